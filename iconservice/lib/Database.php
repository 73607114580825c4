<?php
// The connection to the database of stored icons, SQLite or PostgreSQL, and what differs between
// the two: the column types, how a writer takes the write lock, how a missing table shows, and
// how an unused icon is removed without racing an upload that is about to name it.
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

    /**
     * As write(), and the transaction waits from its start until no other transaction works on
     * the row of $name and $version, so that what it reads of that row stays true until it
     * commits (PostgreSQL: a transaction-scoped advisory lock on a 64-bit key of the two texts,
     * taken with the BEGIN in one round trip; SQLite's write lock already keeps every other
     * writer out). Two first uploads of one name would otherwise each find no row, and the icon
     * that the second one's upsert replaces would stay behind unnamed.
     */
    public function writeRow(string $name, string $version, callable $work): mixed
    {
        if ($this->isSqlite) {
            return $this->write($work);
        }
        // The key is an integer made here, never text from the request, so it is written into
        // the statement; a parameter would cost a round trip of its own.
        $key = unpack('q', substr(hash('sha256', $name . "\0" . $version, true), 0, 8))[1];
        return $this->transaction("BEGIN; SELECT pg_advisory_xact_lock($key)", $work);
    }

    /**
     * Within a writeRow() of $name and $version: stores $bytes under $digest unless they are
     * there already, and the row of $name and $version naming them (inserted, or updated in
     * place with the new digest, $size and $uploadedAt). Returns the digest that the row named
     * before, or null for a new row. On PostgreSQL this is one statement, one round trip to the
     * server; it reads the row after the lock was taken, so the digest it returns is the one it
     * replaces.
     */
    public function putRow(string $name, string $version, string $digest, string $bytes, int $uploadedAt): ?string
    {
        $previous = 'SELECT icon_sha256 FROM ' . self::TABLE . ' WHERE name = ? AND version = ?';
        $upsert = 'INSERT INTO ' . self::TABLE . ' (name, version, icon_sha256, icon_size, uploaded_at) VALUES (?, ?, ?, ?, ?)'
            . ' ON CONFLICT (name, version) DO UPDATE SET icon_sha256 = excluded.icon_sha256,'
            . ' icon_size = excluded.icon_size, uploaded_at = excluded.uploaded_at';
        $row = [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR], [$digest, \PDO::PARAM_STR],
            [strlen($bytes), \PDO::PARAM_INT], [$uploadedAt, \PDO::PARAM_INT]];
        if ($this->isSqlite) {
            $before = $this->run($previous, [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR]])->fetchColumn();
            $this->putBlob($digest, $bytes);
            $this->run($upsert, $row);
        } else {
            // The statements of a WITH run on one snapshot, taken after the row's lock: "previous"
            // sees the row as it was before this upload. The blob's insert is done before the
            // foreign key of the row is checked, at the end of the statement.
            $before = $this->run("WITH previous AS ($previous), blob AS (" . self::PUT_BLOB . "), upsert AS ($upsert)"
                . ' SELECT icon_sha256 FROM previous',
                [[$name, \PDO::PARAM_STR], [$version, \PDO::PARAM_STR], [$digest, \PDO::PARAM_STR], [$bytes, \PDO::PARAM_LOB],
                    ...$row])->fetchColumn();
        }
        return is_string($before) ? trim($before) : null;
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
        return $error->getCode() === '42P01';  // PostgreSQL: undefined_table
    }
}
