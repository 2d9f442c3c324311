 
 
--期末结账:期初余额表 
INSERT INTO OPCostBalance_History(FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod) 
SELECT FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod 
FROM OPCostBalance WHERE FYearPeriod='2011.03' 
DELETE FROM OPCostBalance WHERE FYearPeriod='2011.03' 
--由于期初余额调整表与OPCostBalance是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate 
 
