Insert INTO OPCostTaxonSet(FYearPeriod,FYear,FPeriod,FCostObjID,FStandardID,FDeptAll)
 SELECT '2011.04',2011,4,FCostObjID,FStandardID,FDeptAll FROM OPCostTaxonSet
 WHERE FYear=2011
 AND FPeriod=3