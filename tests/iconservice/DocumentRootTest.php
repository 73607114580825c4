<?php
// Nothing the service stores can be downloaded: served as its README says (document root
// public/, default data folder), every way of asking for the database, an icon file or the code
// gets the gallery or an error, never their bytes; and a data folder inside the document root
// stops the service before anything is created there.
declare(strict_types=1);

namespace IconService\Tests;

use PHPUnit\Framework\TestCase;

final class DocumentRootTest extends TestCase
{
    private string $copy;

    protected function setUp(): void
    {
        // A copy of the service, so that its default data folder (beside public/) is ours alone.
        $this->copy = TempFolder::create('iconservice-copy-');
        foreach (['public/index.php', 'setup.php', 'lib'] as $part) {
            self::copy(ServiceServer::SERVICE_ROOT . "/$part", "{$this->copy}/$part");
        }
    }

    protected function tearDown(): void
    {
        TempFolder::remove($this->copy);
    }

    // The attack: ask for the database, the stored icon and the code by every path that could
    // reach them. What must hold: none of their bytes come back.
    public function testStoredDataCannotBeDownloaded(): void
    {
        $this->assertSame(['index.php'], array_values(array_diff(scandir(ServiceServer::SERVICE_ROOT . '/public'), ['.', '..'])),
            'the document root holds the front controller alone');
        $icon = IconFactory::programIcon(77);
        $digest = hash('sha256', $icon);
        $server = new ServiceServer(workers: 1, environment: ['TALVENOOK_ICONSERVICE_DATA' => ''],
            serviceRoot: $this->copy, dataFolder: "{$this->copy}/data");
        try {
            $http = $server->http();
            $this->assertSame(200, $http->postUpload('/index.php?r=sw/upload', ['name' => 'Secret', 'version' => '1'], $icon)['status']);
            if (!getenv('TALVENOOK_TEST_PG_DSN')) {
                $this->assertFileExists("{$this->copy}/data/icons.sqlite", 'the default data folder is data/ beside public/');
            }
            $database = (string) @file_get_contents("{$this->copy}/data/icons.sqlite");

            $targets = ['/data/icons.sqlite', '/icons.sqlite', "/data/icons/$digest.ico", "/icons/$digest.ico",
                '/../data/icons.sqlite', '/%2e%2e/data/icons.sqlite', '/..%2fdata/icons.sqlite',
                '/index.php/../data/icons.sqlite', '/public/../data/icons.sqlite', '/data/icons.sqlite-wal',
                '/lib/Storage.php', '/../lib/Config.php', '/setup.php', '/../setup.php', '/data/', "/data/icons/"];
            foreach ($targets as $target) {
                $body = $http->get($target)['body'];
                $this->assertStringNotContainsString('SQLite format 3', $body, $target);
                $this->assertStringNotContainsString(substr($icon, 22, 200), $body, $target);
                $this->assertStringNotContainsString('<?php', $body, $target);
            }
            // The one way to an icon is the icon action.
            $id = $server->storage()->newest(1)[0]['id'];
            $this->assertSame($icon, $http->get("/index.php?r=sw/icon&id=$id")['body']);
            $this->assertSame($icon, $http->get("/index.php?r=sw/icon&sha256=$digest")['body']);
            if ($database !== '') {
                $this->assertStringStartsWith('SQLite format 3', $database, 'the database the attack asked for is there');
            }
        } finally {
            $server->stop();
        }
    }

    // A data folder or SQLite database inside the document root, named directly, through "..",
    // or through a symbolic link: the set-up refuses with the reason, the launcher does not start,
    // a server started anyway answers 500 and logs the reason, and nothing is created there.
    public function testDataInsideTheDocumentRootIsRefused(): void
    {
        $public = "{$this->copy}/public";
        $link = TempFolder::create('iconservice-link-');
        symlink($public, "$link/served");
        $outside = TempFolder::create('iconservice-outside-');
        try {
            $configurations = [
                ['TALVENOOK_ICONSERVICE_DATA' => "$public/data"],
                ['TALVENOOK_ICONSERVICE_DATA' => $public],
                ['TALVENOOK_ICONSERVICE_DATA' => "$outside/../" . basename($this->copy) . '/public/x/y'],
                ['TALVENOOK_ICONSERVICE_DATA' => "$link/served/data"],
                ['TALVENOOK_ICONSERVICE_DATA' => $outside, 'TALVENOOK_ICONSERVICE_DSN' => "sqlite:$public/icons.sqlite"],
            ];
            foreach ($configurations as $environment) {
                $described = json_encode($environment);
                try {
                    ServiceServer::runSetUp($this->copy, $environment + getenv());
                    $this->fail("set-up accepted $described");
                } catch (\RuntimeException $refusal) {
                    $this->assertStringContainsString('refusing to start', $refusal->getMessage(), $described);
                    $this->assertStringContainsString('lies inside the document root', $refusal->getMessage(), $described);
                }
                $this->assertSame(['index.php'], array_values(array_diff(scandir($public), ['.', '..'])), $described);
            }

            $server = new ServiceServer(environment: $configurations[0], serviceRoot: $this->copy,
                dataFolder: "$public/data", setUp: false);
            try {
                $reply = $server->http()->postUpload('/index.php?r=sw/upload', ['name' => 'A', 'version' => '1'], IconFactory::programIcon());
                $this->assertSame(500, $reply['status']);
                $this->assertSame(500, $server->http()->get('/')['status']);
                $this->assertStringContainsString("the data folder $public/data lies inside the document root", $server->log());
                $this->assertSame(['index.php'], array_values(array_diff(scandir($public), ['.', '..'])));
            } finally {
                $server->stop();
            }

            // The launcher of the demo and the end-to-end test refuses as well, before listening.
            $tree = realpath(ServiceServer::SERVICE_ROOT);
            $script = 'source "$1/../tools/service_control.sh"; start_icon_service 0 "$1/public/data" "$2/log"; s=$?;'
                . ' stop_icon_service; echo "status $s"';
            $output = shell_exec('bash -c ' . escapeshellarg($script) . ' launcher ' . escapeshellarg($tree)
                . ' ' . escapeshellarg($outside) . ' 2>&1');
            $this->assertStringContainsString('lies inside the document root', (string) $output);
            $this->assertStringEndsWith("status 1\n", (string) $output);
            $this->assertDirectoryDoesNotExist("$tree/public/data");
        } finally {
            TempFolder::remove($link);
            TempFolder::remove($outside);
            // Only a launcher that failed to refuse leaves this; the tree must not keep it.
            TempFolder::remove(realpath(ServiceServer::SERVICE_ROOT) . '/public/data');
        }
    }

    private static function copy(string $from, string $to): void
    {
        if (is_dir($from)) {
            @mkdir($to, 0777, true);
            foreach (array_diff(scandir($from), ['.', '..']) as $entry) {
                self::copy("$from/$entry", "$to/$entry");
            }
            return;
        }
        @mkdir(dirname($to), 0777, true);
        copy($from, $to);
    }
}
