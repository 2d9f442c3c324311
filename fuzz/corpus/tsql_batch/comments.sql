/* outer /* nested */ still */ SELECT [a]]b], "q""x", N'it''s' -- tail
FROM #t WHERE @@ROWCOUNT <> 0 AND x !< 1GO
