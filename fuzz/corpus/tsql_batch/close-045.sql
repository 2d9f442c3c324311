Insert INTO OPCostTaxonStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty)
 SELECT '2011.04',2011,4,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty  FROM OPCostTaxonStandardInfo
 WHERE FYear=2011
 AND FPeriod=3