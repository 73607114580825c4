<?php
// Uploads to a full disk: the service's log shows the write error that happened, never a failed
// rollback in its place, the upload answers 500, and nothing half-stored stays (no row without
// its icon, no icon without its row). The disk is a small tmpfs (256 KiB), filled up by the test, mounted in a mount namespace of
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
    // and the refused upload left neither its row nor its icon.
    public function testDatabaseOnAFullDisk(): void
    {
        $small = "{$this->work}/small";
        $server = $this->serverOnSmallDisk($small);
        try {
            // Room for SQLite's shared-memory file (32 KiB) to open the database, not for the
            // write-ahead log to take the new row.
            $stored = $this->uploadToAFullDisk($server, $small, 36, IconFactory::programIcon(3));
            $this->assertStringContainsString('database or disk is full', $server->log());
            $this->assertStringNotContainsString('cannot rollback', $server->log());
            $this->assertStringNotContainsString('active transaction', $server->log());
            $this->assertSame(self::digests($stored), self::storedDigests($server, $small), 'exactly the stored icons are kept');
        } finally {
            $server->stop();
        }
    }

    // The disk has room for rows and small icons but not for a large icon (icons live in the
    // database): that upload alone is refused with the full disk in the log, and every row keeps
    // its icon.
    public function testLargeIconOnAFullDisk(): void
    {
        $small = "{$this->work}/small";
        $server = $this->serverOnSmallDisk($small);
        try {
            $large = IconFactory::ico([['data' => IconFactory::pngImage(48, 1, random_bytes(150_000)), 'size' => 48]]);
            $stored = $this->uploadToAFullDisk($server, $small, 100, $large);
            $this->assertStringContainsString('database or disk is full', $server->log());
            $this->assertStringNotContainsString('cannot rollback', $server->log());
            $this->assertSame(count($stored), (int) self::inServerMounts($server,
                'sqlite3 "$0/icons.sqlite" "SELECT COUNT(*) FROM talvenook_icons"', $small));
            $this->assertSame(self::digests($stored), self::storedDigests($server, $small));
        } finally {
            $server->stop();
        }
    }

    /** A service whose SQLite database lies on a tmpfs of 256 KiB at $small. */
    private function serverOnSmallDisk(string $small): ServiceServer
    {
        return new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_DSN' => "sqlite:$small/icons.sqlite"],
            dataFolder: $small, setUp: false, wrapper: self::onSmallDisk('256k', $small, 'true'));
    }

    /** Command words that run the server with a tmpfs of $size on $mountPoint, after $then (sh). */
    private static function onSmallDisk(string $size, string $mountPoint, string $then): array
    {
        return ['unshare', '--mount', '--propagation', 'private', '--', 'sh', '-c',
            "mount -t tmpfs -o size=$size tmpfs \"\$0\" && $then && exec \"\$@\"", $mountPoint];
    }

    /**
     * Stores two icons, fills the disk behind the service's back up to $roomKiB, and uploads
     * $refusedIcon, which the service must refuse with 500; then frees the disk and checks that
     * nothing of the refused upload was stored and that the service stores again.
     * Returns the icons stored, by name.
     */
    private function uploadToAFullDisk(ServiceServer $server, string $disk, int $roomKiB, string $refusedIcon): array
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
        $reply = $server->http()->postUpload('/index.php?r=sw/upload', ['name' => 'Refused', 'version' => '1'], $refusedIcon);
        $this->assertSame([500, '{"success":false,"error":"internal error"}'], [$reply['status'], $reply['body']]);

        self::inServerMounts($server, 'rm "$0/filler"', $disk);
        $this->assertSame('{"success":true,"exist":false}', $this->exist($server, 'Refused'));
        $reply = $server->http()->postUpload('/index.php?r=sw/upload', ['name' => 'App 4', 'version' => '1'], IconFactory::programIcon(4));
        $this->assertSame(200, $reply['status'], $reply['body'] . "\n" . $server->log());
        $stored['App 4'] = IconFactory::programIcon(4);
        return $stored;
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

    /** The digests of the icons in the database on the server's small disk $small, sorted. */
    private static function storedDigests(ServiceServer $server, string $small): array
    {
        return explode("\n", trim(self::inServerMounts($server,
            'sqlite3 "$0/icons.sqlite" "SELECT icon_sha256 FROM talvenook_icon_blobs ORDER BY 1"', $small)));
    }

    /** The sorted digests of $icons, each once. */
    private static function digests(array $icons): array
    {
        $digests = array_unique(array_map(static fn (string $icon): string => hash('sha256', $icon), array_values($icons)));
        sort($digests);
        return array_values($digests);
    }
}
