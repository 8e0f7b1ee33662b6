-- Sales not exported yet; the post-record SQL marks each one.
SELECT sale_id, product, amount, sold_at FROM sales WHERE exported = 0 ORDER BY sale_id
