<?php
// Storage of received icons: one database row per software name and version, the ICO bytes in a
// file of the icon folder named after their SHA-256 digest (rows with the same bytes share it).
//
// The SQL is kept to what SQLite and PostgreSQL share (the upsert included); Database holds what
// differs. Every change of files and rows runs under the database's write lock:
//   - an upload writes its file and its row in one write transaction, so a row names its file
//     only once the file is complete, and a failed upload leaves the old row or none;
//   - a file that no row names any more (the replaced icon's, or a failed upload's) is removed
//     in a write transaction of its own after that: under the lock no other upload can be between
//     placing the same file and committing its row, so a file a committed row names is never
//     removed, and a file is never left that nothing names;
//   - what a crash leaves between those steps goes in the sweep at start (removeOrphans).
declare(strict_types=1);

namespace IconService;

final class Storage
{
    private const TABLE = Database::TABLE;

    /** @var \Closure(): int  the time of upload, in milliseconds since 1970 UTC */
    private \Closure $clock;

    /** $clock: the time of upload in milliseconds since 1970 UTC; default the system's clock. */
    public function __construct(private Database $db, private IconFolder $icons, ?\Closure $clock = null)
    {
        $this->clock = $clock ?? static fn (): int => (int) floor(microtime(true) * 1000);
    }

    /**
     * Connects to $dsn with $iconFolder as the folder of ICO files, both created when missing.
     * The table is created by the first request that finds it missing (or by prepare()).
     */
    public static function open(string $dsn, ?string $user, ?string $password, string $iconFolder): self
    {
        $icons = new IconFolder($iconFolder);
        $icons->ensureExists();
        return new self(Database::connect($dsn, $user, $password), $icons);
    }

    /**
     * Makes the storage ready for a start of the service: creates the table and its index when
     * missing, sets SQLite's journal mode, and removes what a crash may have left. Returns the
     * number of files removed.
     */
    public function prepare(): int
    {
        $this->db->createSchema();
        return $this->removeOrphans();
    }

    /** True when an icon is stored for exactly this name and version. */
    public function exists(string $name, string $version): bool
    {
        return $this->db->withTable(fn (): bool => $this->digestOf($name, $version) !== null);
    }

    /**
     * Stores $icoBytes as the icon of $name and $version. A second upload of the same name and
     * version replaces the icon and its time of upload and keeps the one row; the replaced
     * icon's file goes when no other row names it. Throws on failure, leaving the stored state as
     * it was.
     */
    public function store(string $name, string $version, string $icoBytes): void
    {
        $digest = hash('sha256', $icoBytes);
        $wroteFile = false;
        try {
            // Plain closures, not arrow functions: those would take $wroteFile by value.
            $replaced = $this->db->withTable(function () use ($name, $version, $digest, $icoBytes, &$wroteFile): ?string {
                return $this->db->write(function () use ($name, $version, $digest, $icoBytes, &$wroteFile): ?string {
                    $previous = $this->digestOf($name, $version);
                    $wroteFile = true;
                    $this->icons->write($digest, $icoBytes);
                    $this->upsert($name, $version, $digest, strlen($icoBytes));
                    return $previous;
                });
            });
        } catch (\Throwable $error) {
            if ($wroteFile) {
                $this->removeUnreferencedQuietly($digest);
            }
            throw $error;
        }
        if ($replaced !== null && $replaced !== $digest) {
            $this->removeUnreferencedQuietly($replaced);
        }
    }

    /** Number of stored icons. */
    public function count(): int
    {
        return $this->db->withTable(fn (): int =>
            (int) $this->db->pdo->query('SELECT COUNT(*) FROM ' . self::TABLE)->fetchColumn());
    }

    /**
     * Up to $limit stored icons, newest upload first, skipping $offset.
     * Each: ['id' => int, 'name' => string, 'version' => string, 'size' => int,
     * 'uploaded_at' => int milliseconds since 1970 UTC].
     */
    public function newest(int $offset, int $limit): array
    {
        return $this->db->withTable(function () use ($offset, $limit): array {
            $query = $this->db->pdo->prepare('SELECT id, name, version, icon_size, uploaded_at FROM ' . self::TABLE
                . ' ORDER BY uploaded_at DESC, id DESC LIMIT ? OFFSET ?');
            $query->bindValue(1, $limit, \PDO::PARAM_INT);
            $query->bindValue(2, $offset, \PDO::PARAM_INT);
            $query->execute();
            $rows = [];
            foreach ($query->fetchAll(\PDO::FETCH_NUM) as [$id, $name, $version, $size, $uploadedAt]) {
                $rows[] = ['id' => (int) $id, 'name' => $name, 'version' => $version,
                    'size' => (int) $size, 'uploaded_at' => (int) $uploadedAt];
            }
            return $rows;
        });
    }

    /** The ICO bytes of row $id, or null when there is no such row or its file is unreadable. */
    public function iconBytes(int $id): ?string
    {
        return $this->db->withTable(function () use ($id): ?string {
            $query = $this->db->pdo->prepare('SELECT icon_sha256 FROM ' . self::TABLE . ' WHERE id = ?');
            // A replacement may remove the file between the query and the read: ask once more.
            for ($attempt = 0; $attempt < 2; ++$attempt) {
                $query->bindValue(1, $id, \PDO::PARAM_INT);
                $query->execute();
                $digest = $query->fetchColumn();
                $query->closeCursor();
                if (!is_string($digest)) {
                    return null;
                }
                $bytes = $this->icons->read(trim($digest));
                if ($bytes !== null) {
                    return $bytes;
                }
            }
            return null;
        });
    }

    /**
     * Removes every file of the icon folder that no row names, and temporary files of writes
     * that never finished (a crash). Returns the number of files removed.
     */
    public function removeOrphans(): int
    {
        return $this->db->withTable(fn (): int => $this->db->write(function (): int {
            $named = $this->db->pdo->query('SELECT DISTINCT icon_sha256 FROM ' . self::TABLE)->fetchAll(\PDO::FETCH_COLUMN);
            return $this->icons->removeAllBut(array_flip(array_map('trim', $named)));
        }));
    }

    private function digestOf(string $name, string $version): ?string
    {
        $query = $this->db->pdo->prepare('SELECT icon_sha256 FROM ' . self::TABLE . ' WHERE name = ? AND version = ?');
        $query->execute([$name, $version]);
        $digest = $query->fetchColumn();
        return is_string($digest) ? trim($digest) : null;
    }

    private function upsert(string $name, string $version, string $digest, int $size): void
    {
        $upsert = $this->db->pdo->prepare('INSERT INTO ' . self::TABLE
            . ' (name, version, icon_sha256, icon_size, uploaded_at) VALUES (?, ?, ?, ?, ?)'
            . ' ON CONFLICT (name, version) DO UPDATE SET icon_sha256 = excluded.icon_sha256,'
            . ' icon_size = excluded.icon_size, uploaded_at = excluded.uploaded_at');
        $upsert->bindValue(1, $name);
        $upsert->bindValue(2, $version);
        $upsert->bindValue(3, $digest);
        $upsert->bindValue(4, $size, \PDO::PARAM_INT);
        $upsert->bindValue(5, ($this->clock)(), \PDO::PARAM_INT);
        $upsert->execute();
    }

    /**
     * Removes $digest's file when no row names it. A failure here changes nothing stored; it is
     * logged, and the file goes in the next sweep at start.
     */
    private function removeUnreferencedQuietly(string $digest): void
    {
        try {
            $this->db->write(function () use ($digest): void {
                $query = $this->db->pdo->prepare('SELECT 1 FROM ' . self::TABLE . ' WHERE icon_sha256 = ?');
                $query->execute([$digest]);
                if ($query->fetchColumn() === false) {
                    $this->icons->remove($digest);
                }
            });
        } catch (\Throwable $error) {
            error_log("icon service: cannot remove the unused icon file $digest, left for the sweep at start: "
                . $error->getMessage());
        }
    }
}
