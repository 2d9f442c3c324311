INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FOnlnQty,FNotStockQty,FTypeID) 
 SELECT '2011.03',2011,3,a.FICMOInterID,a.FCostCenterID,0,a.FWIPQty,a.FNotStockQty,3  
 FROM OPCostWIPCheck a INNER JOIN icmo b on a.FICMOInterID =b.finterid 
 WHERE a.FYearPeriod='2011.03' and (b.fstatus<>3 OR (b.fstatus=3 AND (a.FWIPQty+a.FNotStockQty)<>0) OR (b.fstatus=3 AND b.fCloseDate>='2011-04-01')) and b.FCancellation=0 
