--期末结账:材料成本计算结果表 
DECLARE @MAXFID INT
SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostCalInfoDetail_History
INSERT INTO OPCostCalInfoDetail_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel) 
SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel 
FROM OPCostCalInfoDetail WHERE FYearPeriod='2011.03' 
TRUNCATE TABLE OPCostCalInfoDetail 
 
