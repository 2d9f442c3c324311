 
--期末结账:产品成本计算结果表 
DECLARE @MAXFID INT
SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostProductCalInfo_History
INSERT INTO OPCostProductCalInfo_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID) 
SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID 
FROM OPCostProductCalInfo WHERE FYearPeriod='2011.03' 
TRUNCATE TABLE OPCostProductCalInfo 
 
