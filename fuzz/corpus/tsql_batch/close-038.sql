 DELETE FROM OPCostObjDetail    WHERE FYear=2011
 AND FPeriod=4
