Insert INTO OPCostStandardSet(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType)
 SELECT '2011.04',2011,4,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType  FROM OPCostStandardSet
 WHERE FYear=2011
 AND FPeriod=3