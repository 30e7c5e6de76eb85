-- Demo database of `make run` (DSN "demo").
CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price DOUBLE, note TEXT);
INSERT INTO items VALUES (1, 'apple', 0.5, 'red');
INSERT INTO items VALUES (2, 'bread', 2.25, '');
INSERT INTO items VALUES (3, 'cheese', 12.8, NULL);
INSERT INTO items VALUES (4, 'dates', 1234.5, 'dried');

CREATE TABLE numbers (n INTEGER PRIMARY KEY, square INTEGER, root DOUBLE, word TEXT);
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 1000)
INSERT INTO numbers SELECT n, n * n, sqrt(n), 'n' || n FROM seq;
