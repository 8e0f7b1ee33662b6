-- A script job: batches separated by "go" lines, bound with -params.
DELETE FROM monthly_totals WHERE month = :month
go
INSERT INTO monthly_totals (month, region_id, total, computed, run_id)
SELECT :month, region_id, SUM(amount), :now, :run
FROM sales
WHERE strftime('%Y-%m', sold_at) = :month
GROUP BY region_id
go
