Insert Into OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FBegBal,FTypeID)
SELECT '2011.04',2011,4,FICMOInterID,FCostCenterID,FCostItemID,FEndBal,2
 FROM OPCostBalance 
 WHERE FYear=2011
 AND FPeriod=3
 AND FTypeID=4 
AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=OPCostBalance.FICMOInterID)
