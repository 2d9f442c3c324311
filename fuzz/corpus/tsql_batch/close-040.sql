Update OPCostObjDetail SET FPrice=FUsedAmount/(FBegUnOutQty+FBegUnInQty) WHERE (FBegUnOutQty+FBegUnInQty)<>0 AND FYear=2011
 AND FPeriod=4
