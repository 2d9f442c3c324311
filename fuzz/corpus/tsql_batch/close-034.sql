 DELETE FROM OPCostBalance    WHERE FYear=2011
 AND FPeriod=4
 AND FTypeID=1 