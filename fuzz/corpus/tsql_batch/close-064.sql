 
--期末结账:期初余额材料明细表 
--由于期初余额调整材料明细表与OPCostObjDetail是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate 
INSERT INTO OPCostObjDetail_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID) 
SELECT FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID 
FROM OPCostObjDetail WHERE FYearPeriod='2011.03' 
DELETE FROM OPCostObjDetail WHERE FYearPeriod='2011.03' 
 
