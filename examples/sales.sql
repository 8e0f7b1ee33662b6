-- The demo database: regions, products and a few weeks of sales.
CREATE TABLE regions (
  region_id INTEGER PRIMARY KEY,
  code      VARCHAR(8) NOT NULL,
  name      VARCHAR(40) NOT NULL
);
CREATE TABLE sales (
  sale_id   INTEGER PRIMARY KEY,
  region_id INTEGER NOT NULL REFERENCES regions(region_id),
  product   VARCHAR(40) NOT NULL,
  quantity  INTEGER NOT NULL,
  amount    DECIMAL(10,2) NOT NULL,
  sold_at   DATETIME NOT NULL,
  note      TEXT,
  exported  BOOLEAN NOT NULL DEFAULT 0
);
CREATE TABLE monthly_totals (
  month     VARCHAR(7) NOT NULL,
  region_id INTEGER NOT NULL,
  total     DECIMAL(12,2) NOT NULL,
  computed  DATETIME NOT NULL,
  run_id    VARCHAR(36) NOT NULL
);

INSERT INTO regions VALUES (1, 'NORTH', 'North'), (2, 'SOUTH', 'South'), (3, 'WEST', 'West; coast');

INSERT INTO sales (region_id, product, quantity, amount, sold_at, note) VALUES
  (1, 'Espresso beans 1kg', 3, 41.85, '2026-11-02 09:14:00', NULL),
  (1, 'Milk frother',       1, 59.90, '2026-11-03 17:40:12', 'gift wrap'),
  (2, 'Espresso beans 1kg', 10, 139.50, '2026-11-04 11:02:45', 'says "urgent"'),
  (2, 'Grinder',            2, 259.00, '2026-11-09 08:30:00', NULL),
  (3, 'Tamper',             5, 74.75, '2026-11-12 14:05:09', 'two lines:
second line'),
  (3, 'Espresso beans 1kg', 4, 55.80, '2026-11-20 10:00:00', NULL),
  (1, 'Descaler',           6, 47.40, '2026-12-01 12:12:12', NULL),
  (2, 'Milk frother',       1, 59.90, '2026-12-02 16:45:00', 'Ünïcødé ✓');
