DECLARE @MAXFID INT 
SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostMaterielInfo_History
INSERT INTO OPCostMaterielInfo_History (FID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount)
SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount FROM OPCostMaterielInfo
WHERE FYearPeriod='2011.03'

Delete From OPCostMaterielInfo WHERE  FYearPeriod='2011.03'