--期末结账:成本计算结果表 
DECLARE @MAXFID INT
SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostCalInfo_History
INSERT INTO OPCostCalInfo_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel) 
SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel 
FROM OPCostCalInfo WHERE FYearPeriod='2011.03' 
TRUNCATE TABLE OPCostCalInfo 
 
