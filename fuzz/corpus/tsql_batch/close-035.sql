Insert Into OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FQty,FBegNotStockQty,FTypeID)
SELECT '2011.04',2011,4,FICMOInterID,FCostCenterID,FCostItemID,FOnlnQty,FNotStockQty,1
 FROM OPCostBalance 
 WHERE FYear=2011
 AND FPeriod=3
 AND FTypeID=3 
AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=OPCostBalance.FICMOInterID)
