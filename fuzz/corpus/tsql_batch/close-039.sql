 INSERT INTO OPCostObjDetail(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FBegUnOutQty,FBegUnInQty,FUsedAmount)
 SELECT '2011.04',2011,4,FICMOInterID , FCostCenterID, FCostItemID, FMaterielID, FBatchNo,FOnlineQty,FNotStockQty,FOnlineAmount 
 FROM OPCostCalinfoDetail 
 WHERE FYear=2011
 AND FPeriod=3
 AND not(FOnlineQty=0 AND FOnlineAmount=0 AND FNotStockQty=0) 
AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=OPCostCalinfoDetail.FICMOInterID)
