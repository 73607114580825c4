<?php
// Storage of icons, run against SQLite, or against PostgreSQL when TALVENOOK_TEST_PG_DSN names
// a server (make test-pg): the same SQL must hold on both.
declare(strict_types=1);

namespace IconService\Tests;

use IconService\Database;
use IconService\IconFolder;
use IconService\Storage;
use PHPUnit\Framework\TestCase;

final class StorageTest extends TestCase
{
    private string $folder;
    private string $dsn;
    private ?string $user = null;
    private ?string $password = null;

    protected function setUp(): void
    {
        $this->folder = TempFolder::create('iconservice-storage-');
        $pg = getenv('TALVENOOK_TEST_PG_DSN');
        if ($pg === false || $pg === '') {
            $this->dsn = "sqlite:{$this->folder}/icons.sqlite";
            return;
        }
        $this->dsn = $pg;
        $this->user = getenv('TALVENOOK_TEST_PG_USER') ?: null;
        $this->database()->exec('DROP TABLE IF EXISTS talvenook_icons');
    }

    protected function tearDown(): void
    {
        TempFolder::remove($this->folder);
    }

    // Lookups match name and version exactly: case, accents, CJK and spaces all count.
    public function testExistsMatchesExactly(): void
    {
        $storage = $this->storage();
        $storage->store('Café 中文 & Co', '1.0.0.0', IconFactory::programIcon());
        $this->assertTrue($storage->exists('Café 中文 & Co', '1.0.0.0'));
        foreach ([['cafe 中文 & Co', '1.0.0.0'], ['Cafe 中文 & Co', '1.0.0.0'], ['Café 中文 & Co ', '1.0.0.0'],
            ['Café 中文 & Co', '1.0.0'], ['Café', '1.0.0.0']] as [$name, $version]) {
            $this->assertFalse($storage->exists($name, $version), "$name $version");
        }
        $this->assertSame('Café 中文 & Co', $storage->newest(0, 10)[0]['name']);
    }

    // A second store of the same name and version keeps one row, with the newer icon and time,
    // and moves it to the front; other rows stay. The times come from a clock of the test's, so
    // the order does not hang on how fast the machine is.
    public function testSecondStoreReplacesInPlace(): void
    {
        $now = 1_700_000_000_000;
        $storage = $this->storage(static function () use (&$now): int {
            return $now += 1000;
        });
        $storage->store('First', '1', IconFactory::programIcon(1));
        $storage->store('Second', '1', IconFactory::programIcon(2));
        $storage->store('First', '1', IconFactory::programIcon(3));
        $rows = $storage->newest(0, 10);
        $this->assertSame(['First', 'Second'], array_column($rows, 'name'));
        $this->assertSame([1_700_000_003_000, 1_700_000_002_000], array_column($rows, 'uploaded_at'));
        $this->assertSame(2, $storage->count());
        $this->assertSame(IconFactory::programIcon(3), $storage->iconBytes($rows[0]['id']));
        $this->assertSame(IconFactory::programIcon(2), $storage->iconBytes($rows[1]['id']));
        $this->assertNull($storage->iconBytes(999999));
    }

    // Paging walks the rows newest first without gaps or repeats.
    public function testPagingNewestFirst(): void
    {
        $storage = $this->storage();
        for ($i = 0; $i < 7; ++$i) {
            $storage->store("App $i", '1', IconFactory::programIcon($i));
        }
        $names = [];
        for ($offset = 0; $offset < 9; $offset += 3) {
            $names = array_merge($names, array_column($storage->newest($offset, 3), 'name'));
        }
        $this->assertSame(['App 6', 'App 5', 'App 4', 'App 3', 'App 2', 'App 1', 'App 0'], $names);
    }

    // Nothing half-stored: when the database refuses the row, or the icon file cannot be
    // written, the store fails and the previous state stays exactly as it was.
    public function testFailedStoreLeavesPreviousState(): void
    {
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        $db = $this->database();
        if (str_starts_with($this->dsn, 'sqlite:')) {
            $db->exec("CREATE TRIGGER refuse BEFORE UPDATE ON talvenook_icons BEGIN SELECT RAISE(ABORT, 'refused'); END");
            $db->exec("CREATE TRIGGER refuse_new BEFORE INSERT ON talvenook_icons WHEN NEW.name = 'New' BEGIN SELECT RAISE(ABORT, 'refused'); END");
        } else {
            $db->exec("ALTER TABLE talvenook_icons ADD CONSTRAINT refuse CHECK (name <> 'New' AND icon_size <= "
                . strlen(IconFactory::programIcon(1)) . ')');
        }
        // One byte longer than any icon so far: refused by the check constraint as well.
        $this->assertStoreFails(fn () => $storage->store('Kept', '1', IconFactory::programIcon(2) . "\0"));
        $this->assertStoreFails(fn () => $storage->store('New', '1', IconFactory::programIcon(3)));
        $rows = $storage->newest(0, 10);
        $this->assertSame(['Kept'], array_column($rows, 'name'));
        $this->assertSame(IconFactory::programIcon(1), $storage->iconBytes($rows[0]['id']));

        // The icon folder replaced by a plain file: no temporary file can be made beside it.
        TempFolder::remove("{$this->folder}/icons");
        touch("{$this->folder}/icons");
        $this->assertStoreFails(fn () => $storage->store('No folder', '1', IconFactory::programIcon(4)));
        $this->assertFalse($storage->exists('No folder', '1'));
        $this->assertSame(1, $storage->count());
        $this->assertSame([], glob(sys_get_temp_dir() . '/.upload-*') ?: []);
    }

    // A commit the database refuses (a deferred constraint, checked only at COMMIT) ends the
    // transaction on the server's side: the store must report the refusal itself, not a failed
    // rollback of a transaction that is no longer there, and the connection stays usable.
    public function testRefusedCommitReportsItsOwnError(): void
    {
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        $refusal = 'one_per_size';
        if (str_starts_with($this->dsn, 'sqlite:')) {
            // SQLite checks a deferred foreign key at COMMIT: every new row names an owner 1 that
            // does not exist. The store's connection has foreign keys switched on.
            $this->database()->exec('CREATE TABLE owners (id INTEGER PRIMARY KEY)');
            $this->database()->exec('ALTER TABLE talvenook_icons ADD COLUMN owner INTEGER DEFAULT 1'
                . ' REFERENCES owners (id) DEFERRABLE INITIALLY DEFERRED');
            $connection = $this->database();
            $connection->exec('PRAGMA foreign_keys = ON');
            $storage = new Storage(new Database($connection), $this->iconFolder());
            $refusal = 'FOREIGN KEY constraint failed';
        } else {
            $this->database()->exec('ALTER TABLE talvenook_icons ADD CONSTRAINT one_per_size UNIQUE (icon_size)'
                . ' DEFERRABLE INITIALLY DEFERRED');
        }
        try {
            $storage->store('Same size', '1', IconFactory::programIcon(2));
            $this->fail('the store succeeded');
        } catch (\PDOException $error) {
            $this->assertStringContainsString($refusal, $error->getMessage());
        }
        $this->assertSame([hash('sha256', IconFactory::programIcon(1)) . '.ico'], $this->iconFiles(), 'the refused icon\'s file is gone');
        $this->assertFalse($storage->exists('Same size', '1'));
        $storage->store('Kept', '1', IconFactory::programIcon(3));
        $this->assertSame(IconFactory::programIcon(3), $storage->iconBytes($storage->newest(0, 1)[0]['id']));
    }

    // Replaced and refused icons leave no file behind, and a file another row still names stays:
    // two names share one file (same bytes), each replaced in turn; a refused store; a store of
    // bytes already there.
    public function testNoFileOutlivesTheRowsNamingIt(): void
    {
        $storage = $this->storage();
        [$shared, $a2, $b3] = [IconFactory::programIcon(1), IconFactory::programIcon(2), IconFactory::programIcon(3)];
        $storage->store('A', '1', $shared);
        $storage->store('B', '1', $shared);
        $this->assertSame(self::fileNames([$shared]), $this->iconFiles());
        $storage->store('A', '1', $a2);
        $this->assertSame(self::fileNames([$shared, $a2]), $this->iconFiles(), 'B still names the shared file');
        $storage->store('B', '1', $b3);
        $this->assertSame(self::fileNames([$a2, $b3]), $this->iconFiles(), 'nothing names the shared file');
        $storage->store('B', '1', $b3);
        $storage->store('C', '1', $a2);
        $this->assertSame(self::fileNames([$a2, $b3]), $this->iconFiles());

        $this->refuseName('Refused');
        $this->assertStoreFails(fn () => $storage->store('Refused', '1', IconFactory::programIcon(4)));
        $this->assertStoreFails(fn () => $storage->store('Refused', '1', $a2));
        $this->assertSame(self::fileNames([$a2, $b3]), $this->iconFiles());
        $this->assertSame($a2, $storage->iconBytes($storage->newest(0, 1)[0]['id']));
    }

    // What a crash leaves (a temporary file cut off mid-write, a file placed before its row was
    // committed) goes in the sweep at start; files named by rows and files not the service's stay.
    public function testSweepAtStartRemovesWhatACrashLeft(): void
    {
        $storage = $this->storage();
        $storage->store('Kept', '1', IconFactory::programIcon(1));
        $folder = "{$this->folder}/icons";
        file_put_contents("$folder/.upload-AbC123", substr(IconFactory::programIcon(2), 0, 100));
        file_put_contents("$folder/" . hash('sha256', IconFactory::programIcon(3)) . '.ico', IconFactory::programIcon(3));
        file_put_contents("$folder/README.txt", 'not an icon of the service');
        $this->assertSame(2, $this->storage()->prepare());
        $this->assertSame(array_merge(self::fileNames([IconFactory::programIcon(1)]), ['README.txt']), $this->iconFiles());
        $this->assertSame(IconFactory::programIcon(1), $storage->iconBytes($storage->newest(0, 1)[0]['id']));
    }

    // The attack on the removal: processes storing the same bytes under names of their own and
    // replacing them at once, so the shared file is named by no row again and again while
    // another process is placing it. What must hold: every store can read back its file at once,
    // and at the end exactly the named files remain.
    public function testConcurrentReplacementsNeverRemoveANamedFile(): void
    {
        $this->storage()->count();
        $workers = [];
        for ($w = 0; $w < 4; ++$w) {
            $workers[] = proc_open([PHP_BINARY, __DIR__ . '/support/replace_worker.php', $this->dsn, $this->user ?? '',
                $this->password ?? '', "{$this->folder}/icons", (string) $w, '15'], [1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes[$w]);
        }
        foreach ($workers as $w => $process) {
            $report = trim(stream_get_contents($pipes[$w][1]));
            $errors = stream_get_contents($pipes[$w][2]);
            proc_close($process);
            $this->assertSame('ok', $report, "worker $w: $errors");
        }
        $named = $this->database()->query('SELECT DISTINCT icon_sha256 FROM talvenook_icons')->fetchAll(\PDO::FETCH_COLUMN);
        $names = array_map(static fn (string $digest): string => trim($digest) . '.ico', $named);
        sort($names);
        $this->assertSame($names, $this->iconFiles());
        $this->assertSame(4 * 15, $this->storage()->count());
    }

    // Every change of the icon folder happens under the database's write lock, which is what
    // keeps a removal from running between another upload placing the same file and committing
    // its row: writes, removals of replaced and refused icons, and the sweep, each checked from a
    // second connection at the moment it happens.
    public function testFilesChangeOnlyUnderTheWriteLock(): void
    {
        $this->storage()->prepare();
        $observer = $this->database();
        $isSqlite = str_starts_with($this->dsn, 'sqlite:');
        $observer->setAttribute(\PDO::ATTR_TIMEOUT, 0);
        $lockIsHeld = static function () use ($observer, $isSqlite): bool {
            try {
                $observer->exec($isSqlite ? 'BEGIN IMMEDIATE' : 'BEGIN');
                if (!$isSqlite) {
                    $observer->exec('LOCK TABLE talvenook_icons IN SHARE ROW EXCLUSIVE MODE NOWAIT');
                }
                return false;
            } catch (\PDOException) {
                return true;
            } finally {
                try {
                    $observer->exec('ROLLBACK');
                } catch (\PDOException) {
                }
            }
        };
        $folder = new LockCheckingIconFolder("{$this->folder}/icons", $lockIsHeld);
        $storage = new Storage(new Database($this->database()), $folder);
        $storage->store('A', '1', IconFactory::programIcon(1));
        $storage->store('B', '1', IconFactory::programIcon(1));
        $storage->store('A', '1', IconFactory::programIcon(2));
        $storage->store('B', '1', IconFactory::programIcon(3));
        $this->refuseName('Refused');
        $this->assertStoreFails(fn () => $storage->store('Refused', '1', IconFactory::programIcon(4)));
        $storage->prepare();

        $this->assertSame(['write', 'write', 'write', 'write', 'remove', 'write', 'remove', 'sweep'],
            array_map(static fn (string $change): string => explode(' ', $change)[0], $folder->changes));
        $this->assertSame([], $folder->unlocked);
        $this->assertFalse($lockIsHeld(), 'the lock is free again');
    }

    // The attack: every request used to create the table and switch the journal mode. What must
    // hold: over many connections to one database, as many requests make, the schema statements
    // run once, on the first request that finds no table; after the set-up at start, never.
    public function testSchemaWorkIsDoneOnce(): void
    {
        $statements = [];
        for ($request = 0; $request < 6; ++$request) {
            $connection = $this->recordingConnection();
            $storage = new Storage(new Database($connection), $this->iconFolder());
            $storage->exists('App', '1');
            $storage->store("App $request", '1', IconFactory::programIcon($request));
            $storage->newest(0, 10);
            $statements = array_merge($statements, $connection->statements);
        }
        $isSqlite = str_starts_with($this->dsn, 'sqlite:');
        $this->assertSame(['CREATE TABLE' => 1, 'CREATE INDEX' => 1, 'journal_mode' => $isSqlite ? 1 : 0],
            self::schemaStatements($statements));

        $this->database()->exec('DROP TABLE talvenook_icons');
        $this->storage()->prepare();
        $connection = $this->recordingConnection();
        $storage = new Storage(new Database($connection), $this->iconFolder());
        $storage->store('After set-up', '1', IconFactory::programIcon(9));
        $storage->count();
        $this->assertSame(['CREATE TABLE' => 0, 'CREATE INDEX' => 0, 'journal_mode' => 0],
            self::schemaStatements($connection->statements));
        if ($isSqlite) {
            $this->assertSame('wal', $this->database()->query('PRAGMA journal_mode')->fetchColumn());
        }
    }

    // Several processes storing at once, partly the same names: every store succeeds, nothing
    // is lost and no name and version is stored twice.
    public function testConcurrentProcessesLoseNothing(): void
    {
        $this->storage();
        $workers = [];
        for ($w = 0; $w < 4; ++$w) {
            $workers[] = proc_open([PHP_BINARY, __DIR__ . '/support/store_worker.php', $this->dsn, $this->user ?? '',
                $this->password ?? '', "{$this->folder}/icons", (string) $w, '20', '10'], [1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes[$w]);
        }
        foreach ($workers as $w => $process) {
            $stored = trim(stream_get_contents($pipes[$w][1]));
            $errors = stream_get_contents($pipes[$w][2]);
            proc_close($process);
            $this->assertSame('30', $stored, "worker $w: $errors");
        }
        $storage = $this->storage();
        $this->assertSame(4 * 20 + 10, $storage->count());
        $this->assertSame(count(array_unique(array_map(fn (array $row): ?string => $storage->iconBytes($row['id']),
            $storage->newest(0, 1000)))), count($this->iconFiles()), 'no file that no row names');
        $rows = $storage->newest(0, 1000);
        $this->assertCount(90, array_unique(array_column($rows, 'name')));
        foreach ($rows as $row) {
            if (preg_match('/^worker (\d) item (\d+)$/', $row['name'], $m) === 1) {
                $this->assertSame(IconFactory::programIcon((int) $m[1] * 1000 + (int) $m[2]), $storage->iconBytes($row['id']));
            }
        }
    }

    private function assertStoreFails(callable $store): void
    {
        try {
            $store();
        } catch (\Throwable) {
            $this->addToAssertionCount(1);
            return;
        }
        $this->fail('the store succeeded');
    }

    /** $clock: the storage's clock (milliseconds); default the system's. */
    private function storage(?\Closure $clock = null): Storage
    {
        return new Storage(new Database($this->database()), $this->iconFolder(), $clock);
    }

    private function iconFolder(): IconFolder
    {
        $folder = new IconFolder("{$this->folder}/icons");
        $folder->ensureExists();
        return $folder;
    }

    private function database(): \PDO
    {
        return new \PDO($this->dsn, $this->user, $this->password, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION,
            \PDO::ATTR_TIMEOUT => 30]);
    }

    private function recordingConnection(): RecordingPdo
    {
        return new RecordingPdo($this->dsn, $this->user, $this->password, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION,
            \PDO::ATTR_TIMEOUT => 30]);
    }

    /** Makes the database refuse every row named $name, inserted or updated. */
    private function refuseName(string $name): void
    {
        $db = $this->database();
        if (!str_starts_with($this->dsn, 'sqlite:')) {
            $db->exec("ALTER TABLE talvenook_icons ADD CONSTRAINT refuse_name CHECK (name <> '$name')");
            return;
        }
        foreach (['INSERT', 'UPDATE'] as $change) {
            $db->exec("CREATE TRIGGER refuse_name_$change BEFORE $change ON talvenook_icons WHEN NEW.name = '$name'"
                . " BEGIN SELECT RAISE(ABORT, 'refused'); END");
        }
    }

    /** The entries of the icon folder, sorted. */
    private function iconFiles(): array
    {
        $files = array_values(array_diff(scandir("{$this->folder}/icons"), ['.', '..']));
        sort($files);
        return $files;
    }

    /** The sorted file names of the icons $icons. */
    private static function fileNames(array $icons): array
    {
        $names = array_unique(array_map(static fn (string $icon): string => hash('sha256', $icon) . '.ico', $icons));
        sort($names);
        return array_values($names);
    }

    /** How often each kind of schema statement occurs in $statements. */
    private static function schemaStatements(array $statements): array
    {
        $counts = [];
        foreach (['CREATE TABLE', 'CREATE INDEX', 'journal_mode'] as $kind) {
            $counts[$kind] = count(array_filter($statements, static fn (string $sql): bool => str_contains($sql, $kind)));
        }
        return $counts;
    }
}
