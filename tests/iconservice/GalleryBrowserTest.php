<?php
// The gallery in a real browser: headless Chromium loads the page from php -S, every icon decodes
// at 48x48, stored text shows as text, and a screenshot is kept as a test artefact
// (in $TALVENOOK_ARTEFACT_DIR, else the system's temporary folder).
declare(strict_types=1);

namespace IconService\Tests;

use PHPUnit\Framework\TestCase;

final class GalleryBrowserTest extends TestCase
{
    private const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync', '--hide-scrollbars',
        '--disable-dev-shm-usage'];

    public function testIconsDecodeAtFortyEightPixels(): void
    {
        $chromium = self::chromium();
        $this->assertNotNull($chromium, 'chromium is not installed (Debian package chromium)');
        $server = new ServiceServer(workers: 2, router: __DIR__ . '/support/browser_router.php');
        try {
            $http = $server->http();
            $uploads = [
                ['Notepad++', '8.6.2.0', IconFactory::programIcon(1)],
                ['AT&T Connect', '1.0.0.0', IconFactory::programIcon(2)],
                ['中文软件', '3.2.1.0', IconFactory::ico([['data' => IconFactory::pngImage(48, 7), 'size' => 48]])],
                ['Café Crème', '0.0.0.0', IconFactory::programIcon(4)],
                ['<img src=x onerror="document.title=1">', '1.2.3.4', IconFactory::programIcon(5)],
            ];
            foreach ($uploads as [$name, $version, $icon]) {
                $reply = $http->postUpload('/index.php?r=sw/upload', ['name' => $name, 'version' => $version], $icon);
                $this->assertSame(200, $reply['status'], $reply['body']);
            }

            $dom = $this->runChromium($chromium, ['--virtual-time-budget=15000', '--dump-dom',
                $server->baseUrl() . 'gallery-check.html']);
            $this->assertMatchesRegularExpression('#<pre id="report">(.*?)</pre>#s', $dom);
            preg_match('#<pre id="report">(.*?)</pre>#s', $dom, $match);
            $report = json_decode(html_entity_decode($match[1], ENT_QUOTES | ENT_HTML5, 'UTF-8'), true);
            $this->assertIsArray($report, "no report in the dumped page:\n" . substr($dom, 0, 2000));

            $this->assertCount(count($uploads), $report['images']);
            foreach ($report['images'] as $image) {
                $this->assertTrue($image['decoded'], json_encode($image));
                $this->assertSame([48, 48], [$image['width'], $image['height']], json_encode($image));
            }
            $this->assertSame(array_reverse(array_column($uploads, 0)), $report['names']);
            $this->assertSame(0, $report['scripts']);

            $screenshot = self::artefactFolder() . '/gallery.png';
            @unlink($screenshot);
            $this->runChromium($chromium, ['--window-size=1000,700', "--screenshot=$screenshot",
                $server->baseUrl() . 'index.php?r=sw/gallery']);
            $this->assertFileExists($screenshot);
            $this->assertStringStartsWith("\x89PNG", (string) file_get_contents($screenshot));
        } finally {
            $server->stop();
        }
    }

    /** Runs Chromium with a fresh profile and a time limit; returns its standard output. */
    private function runChromium(string $chromium, array $arguments): string
    {
        $profile = TempFolder::create('iconservice-chromium-');
        try {
            $command = array_merge(['timeout', '-k', '5', '90', $chromium], self::CHROMIUM_FLAGS,
                ["--user-data-dir=$profile"], $arguments);
            $process = proc_open($command, [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w'], 2 => ['pipe', 'w']],
                $pipes, $profile, ['HOME' => $profile] + getenv());
            $output = stream_get_contents($pipes[1]);
            $errors = stream_get_contents($pipes[2]);
            $status = proc_close($process);
            $this->assertSame(0, $status, "chromium failed:\n$errors");
            return $output;
        } finally {
            TempFolder::remove($profile);
        }
    }

    private static function chromium(): ?string
    {
        foreach (['/usr/bin/chromium', '/usr/bin/chromium-browser'] as $path) {
            if (is_executable($path)) {
                return $path;
            }
        }
        return null;
    }

    private static function artefactFolder(): string
    {
        $folder = getenv('TALVENOOK_ARTEFACT_DIR') ?: sys_get_temp_dir() . '/talvenook-artefacts';
        if (!is_dir($folder)) {
            mkdir($folder, 0777, true);
        }
        return $folder;
    }
}
