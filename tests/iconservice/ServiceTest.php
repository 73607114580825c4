<?php
// The service's four actions over HTTP, driven with the bytes the program sends, against php -S.
declare(strict_types=1);

namespace IconService\Tests;

use PHPUnit\Framework\TestCase;

final class ServiceTest extends TestCase
{
    private const EXIST = '/index.php?r=sw/exist';
    private const UPLOAD = '/index.php?r=sw/upload';

    private static ServiceServer $server;
    private static RawHttp $http;

    public static function setUpBeforeClass(): void
    {
        self::$server = new ServiceServer();
        self::$http = self::$server->http();
    }

    public static function tearDownAfterClass(): void
    {
        self::$server->stop();
    }

    // The exact existence query of the program: HTTP/1.0, "Content-Encoding: UTF-8", a body that
    // starts with "&". The reply is the JSON the program's reader expects, before and after upload.
    public function testExistenceQueryAsTheProgramSendsIt(): void
    {
        $reply = self::$http->postForm(self::EXIST, '&name=My%20App&version=1.2.3.4');
        $this->assertSame(200, $reply['status'], self::$server->log());
        $this->assertSame('application/json; charset=utf-8', $reply['headers']['content-type']);
        $this->assertSame('{"success":true,"exist":false}', $reply['body']);

        $this->assertSame('{"success":true}', $this->upload('My App', '1.2.3.4', IconFactory::programIcon())['body']);
        $this->assertSame('{"success":true,"exist":true}', $this->exist('My App', '1.2.3.4')['body']);
        $this->assertSame('{"success":true,"exist":false}', $this->exist('My App', '1.2.3.5')['body']);
        $this->assertSame('{"success":true,"exist":false}', $this->exist('my app', '1.2.3.4')['body']);
    }

    // Names arrive and are stored exactly: form syntax characters, CJK and accented letters,
    // whether sent percent-encoded in the query or as raw UTF-8 in the multipart upload.
    public function testNamesAreStoredExactly(): void
    {
        $names = ['Notepad++', 'AT&T Connect', 'a=b&c=d', '中文软件 编辑器', 'Café Crème Ærø', 'Tab	and "quotes"', ' spaced  '];
        foreach ($names as $seed => $name) {
            $icon = IconFactory::programIcon($seed);
            $this->assertSame('{"success":true,"exist":false}', $this->exist($name, '2.0.0.1')['body'], $name);
            $this->assertSame('{"success":true}', $this->upload($name, '2.0.0.1', $icon)['body'], $name);
            $this->assertSame('{"success":true,"exist":true}', $this->exist($name, '2.0.0.1')['body'], $name);
        }
        $storage = $this->storage();
        foreach ($storage->newest(1000) as $row) {
            $stored[$row['name']] = $row;
        }
        foreach ($names as $seed => $name) {
            $this->assertArrayHasKey($name, $stored);
            $this->assertSame(IconFactory::programIcon($seed), self::$server->stored()->iconBytes($stored[$name]['id']), $name);
        }
        // "Notepad  " is what a "+" decoded as a space would give; it must not have been stored.
        $this->assertArrayNotHasKey('Notepad  ', $stored);
    }

    // Refused existence queries: missing, empty, over-long, malformed or repeated fields and a
    // wrong method each get a 4xx with {"success":false,"error":...}.
    public function testExistenceQueryRefusesBadInput(): void
    {
        $cases = [
            '&version=1.0.0.0' => 'missing field: name',
            '&name=App' => 'missing field: version',
            '&name=&version=1.0.0.0' => 'missing field: name',
            '&name=' . str_repeat('%E4%B8%AD', 256) . '&version=1' => 'field name is longer than 255 characters',
            '&name=App&version=' . str_repeat('9', 65) => 'field version is longer than 64 characters',
            '&name=%FF%FE&version=1' => 'field name is not valid UTF-8',
            '&name=A%00B&version=1' => 'field name contains a NUL character',
            '&name[]=A&version=1' => 'field name must be a single value',
        ];
        foreach ($cases as $body => $error) {
            $reply = self::$http->postForm(self::EXIST, $body);
            $this->assertSame(400, $reply['status'], $body);
            $this->assertSame(['success' => false, 'error' => $error], json_decode($reply['body'], true), $body);
        }
        $longest = self::$http->postForm(self::EXIST, '&name=' . str_repeat('%E4%B8%AD', 255) . '&version=1');
        $this->assertSame(200, $longest['status']);

        $get = self::$http->get(self::EXIST . '&name=A&version=1');
        $this->assertSame(405, $get['status']);
        $this->assertSame('POST', $get['headers']['allow']);
        $this->assertFalse(json_decode($get['body'], true)['success']);
    }

    // An upload is stored byte for byte and served back as image/x-icon; a second upload of the
    // same name and version replaces the icon and keeps one row.
    public function testUploadStoresAndReplacesIcon(): void
    {
        $first = IconFactory::ico([['data' => IconFactory::pngImage(48, 3), 'size' => 48]]);
        $second = IconFactory::programIcon(9);
        $this->assertSame(200, $this->upload('Replaced App', '3.1.0.0', $first)['status']);
        // The program names the file part with its full path: Windows backslashes, spaces, UTF-8.
        $reply = self::$http->postUpload(self::UPLOAD, ['name' => 'Replaced App', 'version' => '3.1.0.0'], $second,
            'C:\\Program Files (x86)\\Talvenook Café\\image\\0.ico', 'image/vnd.microsoft.icon');
        $this->assertSame(200, $reply['status'], $reply['body']);

        $rows = array_values(array_filter($this->storage()->newest(1000),
            static fn (array $row): bool => $row['name'] === 'Replaced App'));
        $this->assertCount(1, $rows);
        $icon = self::$http->get('/index.php?r=sw/icon&id=' . $rows[0]['id']);
        $this->assertSame(200, $icon['status']);
        $this->assertSame('image/x-icon', $icon['headers']['content-type']);
        $this->assertSame($second, $icon['body']);
    }

    // A replacement keeps the row's id, so the icon's address stays the same: it must be served
    // for revalidation (no-cache), never with a lifetime that lets a browser keep the old icon.
    public function testReplacedIconIsNeverServedFromCache(): void
    {
        $this->assertSame(200, $this->upload('Cached App', '1.0', IconFactory::programIcon(21))['status']);
        $id = $this->rowOf('Cached App')['id'];
        $first = self::$http->get("/index.php?r=sw/icon&id=$id");
        $this->assertSame('no-cache', $first['headers']['cache-control'] ?? null);
        $this->assertSame(IconFactory::programIcon(21), $first['body']);

        $this->assertSame(200, $this->upload('Cached App', '1.0', IconFactory::programIcon(22))['status']);
        $this->assertSame($id, $this->rowOf('Cached App')['id']);
        $second = self::$http->get("/index.php?r=sw/icon&id=$id");
        $this->assertSame('no-cache', $second['headers']['cache-control'] ?? null);
        $this->assertSame(IconFactory::programIcon(22), $second['body']);
    }

    // The gallery names each icon by its digest: served with that digest as a strong ETag and
    // kept by browsers for a year (immutable), a second visit's conditional request gets 304
    // with no body; a replaced icon gets a new address. Malformed or unknown digests are errors.
    public function testGalleryIconsAreCachedByDigest(): void
    {
        $icon = IconFactory::programIcon(31);
        $digest = hash('sha256', $icon);
        $this->assertSame(200, $this->upload('Digest App', '1.0', $icon)['status']);
        $page = self::$http->get('/index.php?r=sw/gallery')['body'];
        $this->assertStringContainsString('src="index.php?r=sw/icon&amp;sha256=' . $digest . '"', $page);

        $first = self::$http->get("/index.php?r=sw/icon&sha256=$digest");
        $this->assertSame(200, $first['status']);
        $this->assertSame($icon, $first['body']);
        $this->assertSame('image/x-icon', $first['headers']['content-type']);
        $this->assertSame("\"$digest\"", $first['headers']['etag'] ?? null);
        $this->assertSame('public, max-age=31536000, immutable', $first['headers']['cache-control'] ?? null);
        foreach (["\"$digest\"", "W/\"$digest\"", "\"other\", \"$digest\""] as $tags) {
            $again = self::$http->get("/index.php?r=sw/icon&sha256=$digest", ['If-None-Match' => $tags]);
            $this->assertSame([304, ''], [$again['status'], $again['body']], $tags);
            $this->assertSame("\"$digest\"", $again['headers']['etag'] ?? null);
        }
        $this->assertSame(200, self::$http->get("/index.php?r=sw/icon&sha256=$digest", ['If-None-Match' => '"other"'])['status']);

        // The row's own address answers 304 too while its icon is unchanged, and 200 after a replacement.
        $id = $this->rowOf('Digest App')['id'];
        $this->assertSame(304, self::$http->get("/index.php?r=sw/icon&id=$id", ['If-None-Match' => "\"$digest\""])['status']);
        $replacement = IconFactory::programIcon(32);
        $this->assertSame(200, $this->upload('Digest App', '1.0', $replacement)['status']);
        $this->assertSame($replacement, self::$http->get("/index.php?r=sw/icon&id=$id", ['If-None-Match' => "\"$digest\""])['body']);
        $this->assertStringContainsString('sha256=' . hash('sha256', $replacement) . '"', self::$http->get('/')['body']);

        foreach (['', strtoupper($digest), substr($digest, 1), "$digest%00", '../' . $digest] as $bad) {
            $this->assertSame(400, self::$http->get("/index.php?r=sw/icon&sha256=$bad")['status'], $bad);
        }
        $this->assertSame(404, self::$http->get('/index.php?r=sw/icon&sha256=' . hash('sha256', 'never stored'))['status']);
    }

    // Refused uploads answer 4xx with a clear error and leave nothing behind: afterwards the
    // service still wants an icon for that name and version.
    public function testRefusedUploadsStoreNothing(): void
    {
        $icon = IconFactory::programIcon();
        $huge = IconFactory::ico([['data' => IconFactory::bitmapImage(48) . str_repeat("\0", \IconService\IcoFile::MAX_BYTES), 'size' => 48]]);
        $cases = [
            'missing file part: icon' => [['name' => 'Refused', 'version' => '1'], null],
            'missing field: name' => [['version' => '1'], $icon],
            'missing field: version' => [['name' => 'Refused'], $icon],
            'not an ICO file: bad header' => [['name' => 'Refused', 'version' => '1'], "GIF89a" . str_repeat('x', 100)],
            'icon file is truncated: incomplete directory' => [['name' => 'Refused', 'version' => '1'], substr($icon, 0, 15)],
            'image 0: image lies outside the file (truncated?)' => [['name' => 'Refused', 'version' => '1'], substr($icon, 0, -100)],
            'icon file is empty' => [['name' => 'Refused', 'version' => '1'], ''],
            'icon file is larger than 1 MiB' => [['name' => 'Refused', 'version' => '1'], $huge],
        ];
        foreach ($cases as $error => [$fields, $bytes]) {
            $reply = self::$http->postUpload(self::UPLOAD, $fields, $bytes);
            $this->assertSame(400, $reply['status'], $error);
            $this->assertSame(['success' => false, 'error' => $error], json_decode($reply['body'], true), $error);
        }
        $this->assertSame('{"success":true,"exist":false}', $this->exist('Refused', '1')['body']);
        $storage = $this->storage();
        $named = array_unique(array_column($storage->newest(1000), 'sha256'));
        sort($named);
        $this->assertSame(array_values($named), self::$server->stored()->digests(), 'no icon stored that no row names');

        $this->assertSame(405, self::$http->get(self::UPLOAD)['status']);
    }

    // The attack: an image bomb, a PNG frame declaring 30000x30000 pixels, uploaded as the program
    // would. What must hold: refused with the reason, nothing stored, nothing in the gallery.
    public function testImageBombIsRefused(): void
    {
        $bomb = IconFactory::ico([['data' => IconFactory::pngBomb(30000), 'size' => 256]]);
        $reply = $this->upload('Bomb', '1.0', $bomb);
        $this->assertSame(400, $reply['status']);
        $this->assertSame(['success' => false, 'error' => 'image 0: PNG image is 30000x30000 pixels, outside the ICO limit of 1 to 256'],
            json_decode($reply['body'], true));
        $this->assertSame('{"success":true,"exist":false}', $this->exist('Bomb', '1.0')['body']);
        $this->assertStringNotContainsString('>Bomb<', self::$http->get('/index.php?r=sw/gallery')['body']);
        $this->assertNull($this->storage()->iconByDigest(hash('sha256', $bomb)));
    }

    // Requests do no schema work: the set-up at start switched SQLite to write-ahead logging;
    // switched back behind the service's back, it stays so through every kind of request
    // (each request used to switch it again, and to create the table).
    public function testRequestsLeaveTheSchemaAlone(): void
    {
        $data = TempFolder::create('iconservice-journal-');
        $server = new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_DSN' => "sqlite:$data/icons.sqlite"], dataFolder: $data);
        try {
            $db = new \PDO("sqlite:$data/icons.sqlite", null, null, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION]);
            $this->assertSame('wal', $db->query('PRAGMA journal_mode')->fetchColumn(), 'set by the set-up');
            $this->assertSame('delete', $db->query('PRAGMA journal_mode = DELETE')->fetchColumn());
            $db = null;
            $http = $server->http();
            $this->assertSame(200, $http->postUpload(self::UPLOAD, ['name' => 'A', 'version' => '1'], IconFactory::programIcon())['status']);
            $this->assertSame(200, $http->postForm(self::EXIST, '&name=A&version=1')['status']);
            $this->assertSame(200, $http->get('/')['status']);
            $this->assertSame(200, $http->get('/index.php?r=sw/icon&id=1')['status']);
            $db = new \PDO("sqlite:$data/icons.sqlite", null, null, [\PDO::ATTR_ERRMODE => \PDO::ERRMODE_EXCEPTION]);
            $this->assertSame('delete', $db->query('PRAGMA journal_mode')->fetchColumn());
        } finally {
            $server->stop();
            TempFolder::remove($data);
        }
    }

    // The icon action and unknown actions answer with errors, never with a page or a crash.
    public function testIconAndUnknownActionErrors(): void
    {
        foreach (['', '&id=', '&id=0', '&id=-1', '&id=abc', '&id=1e3', '&id[]=1', '&id=99999999999999999999'] as $query) {
            $this->assertSame(400, self::$http->get('/index.php?r=sw/icon' . $query)['status'], $query);
        }
        $missing = self::$http->get('/index.php?r=sw/icon&id=987654');
        $this->assertSame(404, $missing['status']);
        $this->assertSame('{"success":false,"error":"no such icon"}', $missing['body']);
        $this->assertSame(404, self::$http->get('/index.php?r=sw/delete')['status']);
        $this->assertSame(404, self::$http->postForm('/index.php?r[]=sw/exist', '&name=a&version=b')['status']);
    }

    // The gallery: newest first, 60 to a page; each page links to the next older one by the key
    // of its last row (never by an offset), the older pages back to the newest; a key older
    // than every row gives an empty page, a malformed one 400; every stored text escaped.
    public function testGalleryOrderPagingAndEscaping(): void
    {
        $server = new ServiceServer();
        try {
            $http = $server->http();
            $this->assertStringContainsString('No icons received yet.', $http->get('/')['body']);
            $hostile = '<script>alert(1)</script><img src=x onerror=alert(2)> "\'&amp;';
            $this->assertSame(200, $http->postUpload(self::UPLOAD, ['name' => $hostile, 'version' => '<b>1</b>'], IconFactory::programIcon())['status']);
            for ($i = 1; $i <= 61; ++$i) {
                $this->assertSame(200, $http->postUpload(self::UPLOAD, ['name' => "App $i", 'version' => '1.0.0.0'], IconFactory::programIcon($i))['status']);
            }
            $first = $http->get('/index.php?r=sw/gallery');
            $this->assertSame(200, $first['status']);
            $this->assertSame('text/html; charset=utf-8', $first['headers']['content-type']);
            $this->assertSame(60, substr_count($first['body'], '<img '));
            $this->assertStringContainsString('Newest first.', $first['body']);
            $this->assertLessThan(strpos($first['body'], '>App 60<'), strpos($first['body'], '>App 61<'));
            $this->assertStringNotContainsString('>App 1<', $first['body']);
            $this->assertStringNotContainsString('Newest</a>', $first['body']);
            $this->assertSame($first['body'], $http->get('/index.php?r=sw/gallery&page=2')['body'], 'offsets are not taken');

            $last = $server->storage()->newest(60)[59];
            $this->assertSame(1, preg_match('#<a rel="next" href="index\.php\?r=sw/gallery&amp;before=(\d+-\d+)">Older#', $first['body'], $link));
            $this->assertSame("{$last['uploaded_at']}-{$last['id']}", $link[1]);
            $second = $http->get('/index.php?r=sw/gallery&before=' . $link[1])['body'];
            $this->assertSame(2, substr_count($second, '<img '));
            $this->assertLessThan(strpos($second, 'alert(1)'), strpos($second, '>App 1<'));
            $this->assertStringNotContainsString('rel="next"', $second);
            $this->assertStringContainsString('<a href="index.php?r=sw/gallery">&larr; Newest</a>', $second);
            $this->assertStringNotContainsString('<script>', $second);
            $this->assertStringNotContainsString('<img src=x', $second);
            $this->assertStringNotContainsString('<b>', $second);
            $this->assertStringContainsString('&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x onerror=alert(2)&gt; &quot;&apos;&amp;amp;', $second);
            $this->assertStringContainsString('alt="&lt;script&gt;', $second);

            $this->assertStringContainsString('No older icons.', $http->get('/index.php?r=sw/gallery&before=0-1')['body']);
            foreach (['', 'abc', '12', '12-0', '-5', '1-2-3', '1.5-2', '12-3%00', '1234567890123456789-1'] as $bad) {
                $reply = $http->get('/index.php?r=sw/gallery&before=' . $bad);
                $this->assertSame([400, '{"success":false,"error":"invalid before"}'], [$reply['status'], $reply['body']], $bad);
            }
            $this->assertSame(400, $http->get('/index.php?r=sw/gallery&before[]=1-1')['status']);
        } finally {
            $server->stop();
        }
    }

    private function exist(string $name, string $version): array
    {
        return self::$http->postForm(self::EXIST,
            '&name=' . RawHttp::encodeValue($name) . '&version=' . RawHttp::encodeValue($version));
    }

    private function upload(string $name, string $version, string $icon): array
    {
        return self::$http->postUpload(self::UPLOAD, ['name' => $name, 'version' => $version], $icon);
    }

    private function rowOf(string $name): array
    {
        $rows = array_values(array_filter($this->storage()->newest(1000),
            static fn (array $row): bool => $row['name'] === $name));
        $this->assertCount(1, $rows, $name);
        return $rows[0];
    }

    private function storage(): \IconService\Storage
    {
        return self::$server->storage();
    }
}
