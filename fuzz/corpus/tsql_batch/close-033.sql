    IF ISNULL(OBJECT_ID('TEMPDB..#OPCostCalinfo'),0)<>0 
 DROP TABLE #OPCostCalinfo 
 CREATE TABLE #OPCostCalinfo(FICMOInterID INT NOT NULL DEFAULT(0)) 
 INSERT INTO #OPCostCalinfo(FICMOInterID) 
 select DISTINCT C.FICMOInterID 
 From OPCostBalance C 
 INNER JOIN ICMO MO ON MO.FInterID=C.FICMOInterID 
 where C.FTypeID=4 AND C.FYearPeriod='2011.03' And MO.FClosed = 0 
 And MO.FCancellation = 0 And MO.FStatus = 3 and 
 mo.FCloseDate<'2011-04-01' 
 group by C.FICMOInterID having sum(C.Fendbal)=0 
 Union 
 select DISTINCT A.FICMOInterID 
 from (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID=3) A 
 INNER JOIN ICMO MO ON MO.FInterID=A.FICMOInterID 
 left join  (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID=4) B on A.FICMOInterID = B.FICMOInterID 
 Where B.FICMOInterID Is Null And mo.FClosed = 0 
 And MO.FCancellation = 0 And MO.FStatus = 3 and 
 mo.FCloseDate<'2011-04-01'
