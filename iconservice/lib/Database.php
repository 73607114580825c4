<?php
// The connection to the database of stored icons, SQLite or PostgreSQL, and what differs between
// the two: the column types, how a writer takes the write lock, how a missing table shows, how
// an unused icon is removed without racing an upload that is about to name it, and, on
// PostgreSQL, the existence query and the upload as functions in the database.
//
// Two tables: talvenook_icons holds one row per name and version with the SHA-256 digest of its
// icon; talvenook_icon_blobs holds each icon's bytes once, keyed by that digest. A foreign key
// keeps a row from ever naming bytes that are not there (PostgreSQL enforces it; SQLite's writers
// are serialised by its write lock instead).
//
// Transactions are run with plain BEGIN/COMMIT/ROLLBACK statements rather than PDO's own calls:
// PDO's SQLite driver believes a transaction is still open after SQLite has rolled it back by
// itself (a full disk does that), and then refuses every later BEGIN on the connection.
declare(strict_types=1);

namespace IconService;

final class Database
{
    public const TABLE = 'talvenook_icons';
    public const BLOBS = 'talvenook_icon_blobs';
    private const BUSY_TIMEOUT_SECONDS = 30;
    /** PostgreSQL advisory lock key of the schema's creation (any number no other lock uses). */
    private const SCHEMA_LOCK = 7_261_102_019;
    /**
     * Stores an icon's bytes (digest, bytes) unless they are there already. On PostgreSQL the
     * blob's row stays locked until the transaction ends (the update writes it), so that no
     * removal of unused icons takes it away before this transaction's row names it.
     */
    private const PUT_BLOB = 'INSERT INTO ' . self::BLOBS . ' (icon_sha256, icon) VALUES (?, ?)'
        . ' ON CONFLICT (icon_sha256) DO UPDATE SET icon_sha256 = excluded.icon_sha256';
    /** Stores the row of (name, version, digest, size, time of upload), or updates it in place. */
    private const UPSERT = 'INSERT INTO ' . self::TABLE . ' (name, version, icon_sha256, icon_size, uploaded_at)'
        . ' VALUES (?, ?, ?, ?, ?) ON CONFLICT (name, version) DO UPDATE SET icon_sha256 = excluded.icon_sha256,'
        . ' icon_size = excluded.icon_size, uploaded_at = excluded.uploaded_at';

    /*
     * PostgreSQL: the existence query and the upload are functions in the database. A kept
     * connection's server process plans the statements inside a function once and runs that
     * plan on every later call, where a statement sent from PHP would be parsed and planned
     * again on each request (PDO cannot keep a prepared statement past the request); and the
     * upload's lock, reads and writes go to the server in one round trip, committed as one
     * statement. The functions are created with the tables (createSchema).
     */
    private const EXISTS_FUNCTION = 'talvenook_icon_exists';
    private const STORE_FUNCTION = 'talvenook_store_icon';
    private const FUNCTIONS = [
        'CREATE OR REPLACE FUNCTION ' . self::EXISTS_FUNCTION . '(p_name VARCHAR, p_version VARCHAR) RETURNS BOOLEAN'
        . ' LANGUAGE plpgsql STABLE AS $$ BEGIN'
        . ' RETURN EXISTS (SELECT 1 FROM ' . self::TABLE . ' WHERE name = p_name AND version = p_version);'
        . ' END $$',
        // VOLATILE: each statement inside sees what other transactions committed before it, so
        // the previous digest is read after the lock is held. The lock takes one 32-bit hash of
        // each text (a clash only makes two uploads wait for each other).
        'CREATE OR REPLACE FUNCTION ' . self::STORE_FUNCTION . '(p_name VARCHAR, p_version VARCHAR, p_sha256 VARCHAR,'
        . ' p_icon BYTEA, p_size INTEGER, p_uploaded_at BIGINT) RETURNS VARCHAR LANGUAGE plpgsql VOLATILE AS $$'
        . ' DECLARE previous VARCHAR; BEGIN'
        . ' PERFORM pg_advisory_xact_lock(hashtext(p_name), hashtext(p_version));'
        . ' SELECT icon_sha256 INTO previous FROM ' . self::TABLE . ' WHERE name = p_name AND version = p_version;'
        . ' INSERT INTO ' . self::BLOBS . ' (icon_sha256, icon) VALUES (p_sha256, p_icon)'
        . ' ON CONFLICT (icon_sha256) DO UPDATE SET icon_sha256 = excluded.icon_sha256;'
        . ' INSERT INTO ' . self::TABLE . ' (name, version, icon_sha256, icon_size, uploaded_at)'
        . ' VALUES (p_name, p_version, p_sha256, p_size, p_uploaded_at) ON CONFLICT (name, version) DO UPDATE SET'
        . ' icon_sha256 = excluded.icon_sha256, icon_size = excluded.icon_size, uploaded_at = excluded.uploaded_at;'
        . ' RETURN previous; END $$',
    ];

    public readonly bool $isSqlite;

    /**
     * $pdo: a connection that throws PDOException on every error (PDO::ERRMODE_EXCEPTION).
     * $reconnect: gives a new connection when the server dropped this one (see withTable).
     */
    public function __construct(public \PDO $pdo, private ?\Closure $reconnect = null)
    {
        $this->isSqlite = $pdo->getAttribute(\PDO::ATTR_DRIVER_NAME) === 'sqlite';
    }

    /**
     * Connects to $dsn; for SQLite, creates the database's folder when missing. $persistent keeps
     * the connection open in the PHP process for its next requests (php-fpm); when the server
     * has dropped such a connection (a database restart), the first statement that finds so
     * opens a new one and the work runs again (withTable), so a restart costs no request once
     * the server is back, and a live connection costs no extra round trip to check it.
     */
    public static function connect(string $dsn, ?string $user, ?string $password, bool $persistent = false): self
    {
        $options = [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION];
        if (str_starts_with($dsn, 'sqlite:')) {
            IconFolder::ensure(dirname(substr($dsn, strlen('sqlite:'))));
            // Concurrent writers wait for the lock instead of failing at once.
            $options[\PDO::ATTR_TIMEOUT] = self::BUSY_TIMEOUT_SECONDS;
            $persistent = false;
        }
        if (str_starts_with($dsn, 'pgsql:')) {
            // Each statement reaches the server with its values in one round trip (parse, bind and
            // execute of an unnamed statement) rather than three (a prepare under a name, the
            // execute, and a DEALLOCATE when PHP frees the statement): a request runs each of its
            // statements once, so a named one is never used again. The values still travel apart
            // from the SQL text.
            $options[\PDO::PGSQL_ATTR_DISABLE_PREPARES] = true;
        }
        if (!$persistent) {
            return new self(new \PDO($dsn, $user, $password, $options));
        }
        $options[\PDO::ATTR_PERSISTENT] = true;
        $open = static function () use ($dsn, $user, $password, $options): \PDO {
            // PDO hands out the process's kept connection, or a new one when that one is broken.
            $pdo = new \PDO($dsn, $user, $password, $options);
            // A request that ended inside a transaction (a fatal error) must not hand it on.
            if ($pdo->inTransaction()) {
                $pdo->exec('ROLLBACK');
            }
            return $pdo;
        };
        return new self($open(), $open);
    }

    /**
     * Returns what $work returns. When $work fails because a table does not exist yet (the
     * first request to a new database), creates the tables and runs $work once more. So the
     * schema costs nothing on the requests after the first. When $work fails because the server
     * dropped a kept connection, runs it once more on a new connection: $work is one read or one
     * transaction, which the server has rolled back or, committed, would store the same again.
     */
    public function withTable(callable $work): mixed
    {
        try {
            return $work();
        } catch (\PDOException $error) {
            if ($this->reconnect !== null && self::isLostConnection($error)) {
                $this->pdo = ($this->reconnect)();
                $this->reconnect = null;
                return $this->withTable($work);
            }
            if (!$this->isMissingTable($error)) {
                throw $error;
            }
        }
        $this->createSchema();
        return $work();
    }

    /**
     * Runs $work in one transaction and returns what $work returns. On SQLite the transaction
     * holds the database's write lock from its first statement, so no other writer runs between
     * $work's reads and its commit; PostgreSQL's writers run side by side, kept apart by the
     * unique keys and row locks of their statements. On failure the transaction is rolled back
     * and $work's own error is thrown.
     */
    public function write(callable $work): mixed
    {
        return $this->transaction($this->isSqlite ? 'BEGIN IMMEDIATE' : 'BEGIN', $work);
    }

    /** True when a row of exactly $name and $version is stored. */
    public function hasRow(string $name, string $version): bool
    {
        $sql = $this->isSqlite ? 'SELECT 1 FROM ' . self::TABLE . ' WHERE name = ? AND version = ?'
            : 'SELECT 1 WHERE ' . self::EXISTS_FUNCTION . '(?, ?)';
        return $this->run($sql, [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR]])->fetchColumn() !== false;
    }

    /**
     * In one transaction: stores $bytes under $digest unless they are there already, and the row
     * of $name and $version naming them (inserted, or updated in place with the new digest, the
     * size of $bytes and $uploadedAt). Returns the digest that the row named before, or null
     * for a new row. Throws on failure, having stored nothing.
     *
     * No other upload of the same name and version runs between the read of the previous digest
     * and the commit (PostgreSQL: a transaction-scoped advisory lock on the two texts; SQLite:
     * the write lock), so the digest returned is the one replaced. Two first uploads of one name
     * would otherwise each find no row, and the icon that the second one's upsert replaces would
     * stay behind unnamed. On PostgreSQL all of it is one call of a function in the database:
     * one round trip, one transaction of its own.
     */
    public function storeRow(string $name, string $version, string $digest, string $bytes, int $uploadedAt): ?string
    {
        $values = [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR], [$digest, \PDO::PARAM_STR],
            [strlen($bytes), \PDO::PARAM_INT], [$uploadedAt, \PDO::PARAM_INT]];
        if ($this->isSqlite) {
            $before = $this->write(function () use ($name, $version, $digest, $bytes, $values): mixed {
                $before = $this->run('SELECT icon_sha256 FROM ' . self::TABLE . ' WHERE name = ? AND version = ?',
                    [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR]])->fetchColumn();
                $this->putBlob($digest, $bytes);
                $this->run(self::UPSERT, $values);
                return $before;
            });
        } else {
            $before = $this->run('SELECT ' . self::STORE_FUNCTION . '(?, ?, ?, ?, ?, ?)',
                [...array_slice($values, 0, 3), [$bytes, \PDO::PARAM_LOB], ...array_slice($values, 3)])->fetchColumn();
        }
        return is_string($before) ? trim($before) : null;
    }

    /**
     * In one transaction: removes the row of $name and $version and returns what it named,
     * ['sha256' => digest, 'size' => bytes], or null when there was no such row. The icon's
     * bytes stay (removeUnusedBlobs takes them when no row names them any more). No upload of
     * the same name and version runs between (the upload's advisory lock on PostgreSQL, the
     * write lock on SQLite), so the row an upload has just committed is the one removed.
     */
    public function deleteRow(string $name, string $version): ?array
    {
        $key = [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR]];
        $rows = $this->write(function () use ($key): array {
            if (!$this->isSqlite) {
                $this->run('SELECT pg_advisory_xact_lock(hashtext(?), hashtext(?))', $key);
            }
            // Every row fetched, so that the statement is done before the commit (SQLite refuses
            // to commit while one is still stepping).
            return $this->run('DELETE FROM ' . self::TABLE . ' WHERE name = ? AND version = ? RETURNING icon_sha256, icon_size',
                $key)->fetchAll(\PDO::FETCH_NUM);
        });
        return $rows === [] ? null : ['sha256' => trim($rows[0][0]), 'size' => (int) $rows[0][1]];
    }

    /**
     * Stores $bytes under $digest unless they are there already. On PostgreSQL the blob's row
     * stays locked until the transaction ends, so that no removal of unused icons takes it away
     * before this transaction's row names it.
     */
    public function putBlob(string $digest, string $bytes): void
    {
        $this->run(self::PUT_BLOB, [[$digest, \PDO::PARAM_STR], [$bytes, \PDO::PARAM_LOB]]);
    }

    /**
     * Removes the blobs that no row names: $digest's alone, or every such blob when $digest is
     * null. A blob that an unfinished upload holds is left (PostgreSQL: its row lock is skipped),
     * and should an upload name it in the moment between, the foreign key refuses the removal
     * with an error rather than lose the icon. Returns how many blobs went.
     */
    public function removeUnusedBlobs(?string $digest = null): int
    {
        $unused = 'SELECT b.icon_sha256 FROM ' . self::BLOBS . ' b WHERE NOT EXISTS (SELECT 1 FROM ' . self::TABLE
            . ' i WHERE i.icon_sha256 = b.icon_sha256)' . ($digest === null ? '' : ' AND b.icon_sha256 = ?');
        if (!$this->isSqlite) {
            $unused .= ' FOR UPDATE OF b SKIP LOCKED';
        }
        $remove = $this->pdo->prepare('DELETE FROM ' . self::BLOBS . " WHERE icon_sha256 IN ($unused)");
        $remove->execute($digest === null ? [] : [$digest]);
        return $remove->rowCount();
    }

    /** The bytes of a blob column as fetched: PostgreSQL hands bytea over as a stream. */
    public static function bytes(mixed $column): ?string
    {
        if (is_resource($column)) {
            $column = stream_get_contents($column);
        }
        return is_string($column) ? $column : null;
    }

    /**
     * Creates the tables and their indexes when missing and, for SQLite, switches to
     * write-ahead logging (kept in the database file). Safe to run while others use the database.
     */
    public function createSchema(): void
    {
        if ($this->isSqlite) {
            $this->useWriteAheadLog();
            $this->createTables();
            return;
        }
        // Two first requests creating the tables at once: PostgreSQL lets one of them fail with a
        // duplicate-object error even under IF NOT EXISTS, so they take turns.
        $this->pdo->exec('SELECT pg_advisory_lock(' . self::SCHEMA_LOCK . ')');
        try {
            $this->createTables();
        } finally {
            $this->pdo->exec('SELECT pg_advisory_unlock(' . self::SCHEMA_LOCK . ')');
        }
    }

    private function createTables(): void
    {
        $id = $this->isSqlite ? 'id INTEGER PRIMARY KEY AUTOINCREMENT'
            : 'id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY';
        $blob = $this->isSqlite ? 'BLOB' : 'BYTEA';
        $this->pdo->exec('CREATE TABLE IF NOT EXISTS ' . self::BLOBS
            . " (icon_sha256 CHAR(64) PRIMARY KEY, icon $blob NOT NULL)");
        $this->pdo->exec('CREATE TABLE IF NOT EXISTS ' . self::TABLE . " ($id,"
            . ' name VARCHAR(255) NOT NULL, version VARCHAR(64) NOT NULL,'
            . ' icon_sha256 CHAR(64) NOT NULL, icon_size INTEGER NOT NULL, uploaded_at BIGINT NOT NULL,'
            . ' CONSTRAINT talvenook_icons_name_version UNIQUE (name, version),'
            . ' CONSTRAINT talvenook_icons_blob FOREIGN KEY (icon_sha256) REFERENCES ' . self::BLOBS . ' (icon_sha256))');
        // Finding whether any row still names an icon, after each replacement; and the gallery's
        // newest-first pages.
        $this->pdo->exec('CREATE INDEX IF NOT EXISTS talvenook_icons_sha256 ON ' . self::TABLE . ' (icon_sha256)');
        $this->pdo->exec('CREATE INDEX IF NOT EXISTS talvenook_icons_newest ON ' . self::TABLE . ' (uploaded_at, id)');
        if (!$this->isSqlite) {
            foreach (self::FUNCTIONS as $function) {
                $this->pdo->exec($function);
            }
        }
    }

    /**
     * Adds the foreign key from rows to blobs to a table made before icons lived in the database,
     * once every row's icon is there (PostgreSQL; SQLite cannot add one to a table it has).
     */
    public function addBlobKeyWhenMissing(): void
    {
        if ($this->isSqlite) {
            return;
        }
        $has = $this->pdo->query("SELECT 1 FROM pg_constraint WHERE conname = 'talvenook_icons_blob'")->fetchColumn();
        if ($has === false) {
            $this->pdo->exec('ALTER TABLE ' . self::TABLE . ' ADD CONSTRAINT talvenook_icons_blob FOREIGN KEY (icon_sha256)'
                . ' REFERENCES ' . self::BLOBS . ' (icon_sha256)');
        }
    }

    private function useWriteAheadLog(): void
    {
        // Readers (exist queries, the gallery) then never block the writer. Switching needs a
        // moment alone with the database; if others hold it, the mode stays as it is and the
        // busy timeout still serialises the writers correctly.
        try {
            $this->pdo->exec('PRAGMA journal_mode = WAL');
        } catch (\PDOException) {
        }
    }

    /** Runs $sql with $values, each [value, PDO::PARAM_* type], and returns the executed statement. */
    private function run(string $sql, array $values): \PDOStatement
    {
        $statement = $this->pdo->prepare($sql);
        foreach ($values as $i => [$value, $type]) {
            $statement->bindValue($i + 1, $value, $type);
        }
        $statement->execute();
        return $statement;
    }

    /**
     * Runs $work in a transaction opened by $begin and returns what $work returns; on failure,
     * of $begin too, rolls back and throws the error.
     */
    private function transaction(string $begin, callable $work): mixed
    {
        try {
            $this->pdo->exec($begin);
            $result = $work();
            $this->pdo->exec('COMMIT');
            return $result;
        } catch (\Throwable $error) {
            $this->rollBack();
            throw $error;
        }
    }

    /** Ends the open transaction, if the server has not ended it already; never throws. */
    private function rollBack(): void
    {
        try {
            $this->pdo->exec('ROLLBACK');
        } catch (\PDOException) {
            // SQLite rolls back by itself on a full disk and then answers "cannot rollback - no
            // transaction is active"; a lost connection fails here too. Either way nothing stays
            // open, and the error that led here is the one to report.
        }
    }

    /** True for the errors of a connection that the server closed (PostgreSQL). */
    private static function isLostConnection(\PDOException $error): bool
    {
        $state = (string) $error->getCode();
        return str_starts_with($state, '08') || in_array($state, ['57P01', '57P02', '57P03'], true)
            || str_contains($error->getMessage(), 'server closed the connection')
            || str_contains($error->getMessage(), 'no connection to the server');
    }

    private function isMissingTable(\PDOException $error): bool
    {
        if ($this->isSqlite) {
            // Either table: talvenook_icons or talvenook_icon_blobs.
            return str_contains($error->getMessage(), 'no such table: talvenook_icon');
        }
        // PostgreSQL: undefined_table, or one of the service's functions missing (a database of a
        // version that sent its statements from PHP).
        return $error->getCode() === '42P01'
            || ($error->getCode() === '42883' && str_contains($error->getMessage(), 'talvenook_'));
    }
}
