DECLARE @MAXFID INT 
SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostExpenseDistributeInfo_History
INSERT INTO OPCostExpenseDistributeInfo_History (FID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount)
SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount FROM OPCostExpenseDistributeInfo
WHERE FYearPeriod='2011.03'

Delete From OPCostExpenseDistributeInfo WHERE  FYearPeriod='2011.03'