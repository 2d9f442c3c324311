Insert INTO OPCostRationStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID)
 SELECT '2011.04',2011,4,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID  FROM OPCostRationStandardInfo
 WHERE FYear=2011
 AND FPeriod=3