DECLARE @n INT
SELECT @n = COUNT(*) FROM OPCostBalance WHERE FYearPeriod = '2011.03'
IF @n > 0
BEGIN
  UPDATE t_SystemProfile SET FValue = '4' WHERE FKey = 'CurrentPeriod'
END
ELSE
  PRINT 'none'
