<?php
// Uploads to a full disk: the service's log shows the write error that happened, never a failed
// rollback in its place, the upload answers 500, and nothing half-stored stays (no row without
// its file, no file without its row). The disk is a small tmpfs (256 KiB), filled up by the test, mounted in a mount namespace of
// the server's own, so it disappears with the server whatever happens to the test; that needs
// root (CAP_SYS_ADMIN) and util-linux's unshare and nsenter; without them the test is skipped
// and says why.
declare(strict_types=1);

namespace IconService\Tests;

use PHPUnit\Framework\TestCase;

final class FullDiskTest extends TestCase
{
    private string $work;

    protected function setUp(): void
    {
        exec('unshare --mount --propagation private -- sh -c ' . escapeshellarg('mount -t tmpfs -o size=64k tmpfs /mnt')
            . ' 2>&1 && command -v nsenter 2>&1', $output, $status);
        if ($status !== 0) {
            $this->markTestSkipped('a full disk is simulated with a tmpfs in a private mount namespace, which needs'
                . ' root and util-linux (unshare, nsenter); that failed: ' . implode(' ', $output));
        }
        $this->work = TempFolder::create('iconservice-full-');
        mkdir("{$this->work}/small");
    }

    protected function tearDown(): void
    {
        if (isset($this->work)) {
            TempFolder::remove($this->work);
        }
    }

    // The attack: the database's disk fills while the icon files still find room. SQLite rolls
    // the transaction back by itself, and a second rollback used to throw "cannot rollback - no
    // transaction is active" over the real error. What must hold: the log names the full disk,
    // and the refused upload's icon file is gone again.
    public function testDatabaseOnAFullDisk(): void
    {
        mkdir("{$this->work}/icons");
        $small = "{$this->work}/small";
        $server = new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_DSN' => "sqlite:$small/icons.sqlite"],
            dataFolder: $small, setUp: false, wrapper: self::onSmallDisk('256k', $small, "ln -s {$this->work}/icons $small/icons"));
        try {
            // Room for SQLite's shared-memory file (32 KiB) to open the database, not for the
            // write-ahead log to take the new row.
            [$stored, $refused] = $this->uploadToAFullDisk($server, $small, 36);
            $this->assertStringContainsString('database or disk is full', $server->log());
            $this->assertStringNotContainsString('cannot rollback', $server->log());
            $this->assertStringNotContainsString('active transaction', $server->log());
            $this->assertSame(self::fileNames($stored), self::entries("{$this->work}/icons"),
                'exactly the stored icons have files');
        } finally {
            $server->stop();
        }
    }

    // The icon folder's disk fills while the database has room: the log shows the system's
    // reason for the failed write, no temporary file stays, and every row keeps its icon.
    public function testIconFolderOnAFullDisk(): void
    {
        $small = "{$this->work}/small";
        $data = "{$this->work}/data";
        mkdir($data);
        symlink($small, "$data/icons");
        $server = new ServiceServer(dataFolder: $data, setUp: false, wrapper: self::onSmallDisk('256k', $small, 'true'));
        try {
            [$stored, $refused] = $this->uploadToAFullDisk($server, $small, 0);
            $this->assertMatchesRegularExpression('/No space left on device|out of free disk space/', $server->log());
            $this->assertStringNotContainsString('cannot rollback', $server->log());
            $this->assertSame(self::fileNames($stored),
                explode("\n", trim(self::inServerMounts($server, 'LC_ALL=C ls -A "$0"', $small))));
            $storage = $server->storage();
            $this->assertSame(count($stored), $storage->count());
        } finally {
            $server->stop();
        }
    }

    /** Command words that run the server with a tmpfs of $size on $mountPoint, after $then (sh). */
    private static function onSmallDisk(string $size, string $mountPoint, string $then): array
    {
        return ['unshare', '--mount', '--propagation', 'private', '--', 'sh', '-c',
            "mount -t tmpfs -o size=$size tmpfs \"\$0\" && $then && exec \"\$@\"", $mountPoint];
    }

    /**
     * Stores two icons, fills the disk behind the service's back up to $roomKiB, and uploads a
     * third, which the service must refuse with 500; then frees the disk and checks that nothing
     * of the refused upload was stored and that the service stores again.
     * Returns [the icons stored by name, the name of the refused upload].
     */
    private function uploadToAFullDisk(ServiceServer $server, string $disk, int $roomKiB): array
    {
        $stored = [];
        foreach (['App 1' => IconFactory::programIcon(1), 'App 2' => IconFactory::programIcon(2)] as $name => $icon) {
            $reply = $server->http()->postUpload('/index.php?r=sw/upload', ['name' => $name, 'version' => '1'], $icon);
            $this->assertSame(200, $reply['status'], $reply['body'] . "\n" . $server->log());
            $stored[$name] = $icon;
        }
        // Filled from inside the server's mount namespace, leaving $roomKiB.
        $available = (int) self::inServerMounts($server, 'df -k --output=avail "$0" | tail -n 1', $disk);
        $this->assertLessThan(256, $available);
        self::inServerMounts($server, 'head -c ' . max(0, $available - $roomKiB) . 'K /dev/zero > "$0/filler"', $disk);
        $reply = $server->http()->postUpload('/index.php?r=sw/upload', ['name' => 'Refused', 'version' => '1'], IconFactory::programIcon(3));
        $this->assertSame([500, '{"success":false,"error":"internal error"}'], [$reply['status'], $reply['body']]);

        self::inServerMounts($server, 'rm "$0/filler"', $disk);
        $this->assertSame('{"success":true,"exist":false}', $this->exist($server, 'Refused'));
        $reply = $server->http()->postUpload('/index.php?r=sw/upload', ['name' => 'App 4', 'version' => '1'], IconFactory::programIcon(4));
        $this->assertSame(200, $reply['status'], $reply['body'] . "\n" . $server->log());
        $stored['App 4'] = IconFactory::programIcon(4);
        return [$stored, 'Refused'];
    }

    /** Runs the sh $script with $argument as $0 in the server's mount namespace; its output. */
    private static function inServerMounts(ServiceServer $server, string $script, string $argument): string
    {
        return (string) shell_exec('timeout 30 nsenter --target ' . $server->pid() . ' --mount -- sh -c '
            . escapeshellarg($script) . ' ' . escapeshellarg($argument));
    }

    private function exist(ServiceServer $server, string $name): string
    {
        return $server->http()->postForm('/index.php?r=sw/exist', '&name=' . RawHttp::encodeValue($name) . '&version=1')['body'];
    }

    private static function fileNames(array $icons): array
    {
        $names = array_unique(array_map(static fn (string $icon): string => hash('sha256', $icon) . '.ico', array_values($icons)));
        sort($names);
        return array_values($names);
    }

    private static function entries(string $folder): array
    {
        $entries = array_values(array_diff(scandir($folder) ?: [], ['.', '..']));
        sort($entries);
        return $entries;
    }
}
