Insert INTO OPCostStandardSetOnPro(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID)
 SELECT '2011.04',2011,4,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID  FROM OPCostStandardSetOnPro
 WHERE FYear=2011
 AND FPeriod=3