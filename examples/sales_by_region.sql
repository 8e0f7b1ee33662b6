-- One CSV file per region: the file name template uses :REGION.
SELECT r.code AS REGION, s.sale_id, s.product, s.quantity, s.amount, s.sold_at, s.note
FROM sales s JOIN regions r ON r.region_id = s.region_id
ORDER BY r.code, s.sale_id
