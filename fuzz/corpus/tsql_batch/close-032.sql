INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FEndBal,FTypeID)
 SELECT '2011.03',2011,3,a.FICMOInterID,a.FCostCenterID,a.FCostItemID,a.FOnlineAmount,4 
 FROM OPCostCalinfo a INNER JOIN icmo b on a.FICMOInterID =b.finterid 
 WHERE a.FYearPeriod='2011.03'  and (b.fstatus<>3 OR (b.fstatus=3 AND a.FOnlineAmount<>0)  OR (b.fstatus=3 AND b.fCloseDate>='2011-04-01')) and b.FCancellation=0 
