<?php
// The service as an organisation runs it: who may ask and upload (the networks of
// TALVENOOK_ICONSERVICE_WRITERS), the health check for monitors and load balancers, and the
// administrator's removal of a wrong icon (iconservice/remove.php). Against php -S.
declare(strict_types=1);

namespace IconService\Tests;

use IconService\ClientNetworks;
use IconService\ConfigurationError;
use PHPUnit\Framework\TestCase;

final class OperationsTest extends TestCase
{
    private const EXIST = '/index.php?r=sw/exist';
    private const UPLOAD = '/index.php?r=sw/upload';
    private const HEALTH = '/index.php?r=sw/health';
    private const REFUSED = '{"success":false,"error":"this network may not send icons"}';

    // The default networks are loopback and the private ranges, IPv4 and IPv6 (an IPv4 client
    // seen through an IPv6 socket counts as its IPv4 address); a list of the organisation's own
    // takes single addresses and ranges of any prefix; a list that does not parse is refused
    // as a whole, never read as "everyone" or "no one".
    public function testNetworksThatMaySendIcons(): void
    {
        $private = ClientNetworks::parse(ClientNetworks::PRIVATE);
        $inside = ['127.0.0.1', '127.255.255.254', '10.0.0.0', '10.255.255.255', '172.16.0.1', '172.31.255.255',
            '192.168.0.1', '192.168.255.255', '::1', 'fc00::', 'fd12:3456::1', 'fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff',
            '::ffff:192.168.1.2', '::ffff:127.0.0.1'];
        $outside = ['8.8.8.8', '11.0.0.1', '9.255.255.255', '172.15.255.255', '172.32.0.0', '192.169.0.1', '192.167.255.255',
            '128.0.0.1', '::2', '::', 'fe80::1', 'fbff::1', 'fe00::1', '2001:db8::1', '::ffff:8.8.8.8', '', 'localhost',
            '10.0.0.1.5', '10.0.0', '10.0.0.1/8'];
        foreach ($inside as $address) {
            $this->assertTrue($private->contains($address), $address);
        }
        foreach ($outside as $address) {
            $this->assertFalse($private->contains($address), $address);
        }

        $own = ClientNetworks::parse(" 192.0.2.7,2001:db8:abcd::/48\n198.51.100.128/25 ");
        foreach (['192.0.2.7' => true, '192.0.2.8' => false, '2001:db8:abcd:ffff::1' => true, '2001:db8:abce::1' => false,
            '198.51.100.128' => true, '198.51.100.255' => true, '198.51.100.127' => false, '127.0.0.1' => false] as $address => $in) {
            $this->assertSame($in, $own->contains($address), $address);
        }
        $this->assertTrue(ClientNetworks::parse('0.0.0.0/0')->contains('203.0.113.9'));
        $this->assertFalse(ClientNetworks::parse('0.0.0.0/0')->contains('2001:db8::1'));
        $this->assertFalse(ClientNetworks::parse('')->contains('127.0.0.1'));

        foreach (['10.0.0.0/33', '10.0.0/8', 'fc00::/129', 'host.example', '10.0.0.0/-1', '10.0.0.0/', '10.0.0.0/8/8',
            '10.0.0.0/0x8', '127.0.0.1 10.0.0.0/1000'] as $list) {
            try {
                ClientNetworks::parse($list);
                $this->fail("accepted: $list");
            } catch (ConfigurationError $error) {
                $this->assertStringContainsString('TALVENOOK_ICONSERVICE_WRITERS', $error->getMessage(), $list);
            }
        }
    }

    // A client outside the named networks gets 403 for the existence query and the upload, and
    // nothing is stored; the gallery, the icons and the health check answer it as before. The
    // same service answers a client inside them. A malformed list stops the set-up.
    public function testOnlyTheNamedNetworksMayAskAndUpload(): void
    {
        $outside = new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_WRITERS' => '10.0.0.0/8 fc00::/7']);
        try {
            $http = $outside->http();
            $exist = $http->postForm(self::EXIST, '&name=App&version=1');
            $upload = $http->postUpload(self::UPLOAD, ['name' => 'App', 'version' => '1'], IconFactory::programIcon());
            $this->assertSame([403, self::REFUSED], [$exist['status'], $exist['body']]);
            $this->assertSame([403, self::REFUSED], [$upload['status'], $upload['body']]);
            $this->assertSame(0, $outside->stored()->count());
            $this->assertSame(200, $http->get('/index.php?r=sw/gallery')['status']);
            $this->assertSame(200, $http->get(self::HEALTH)['status']);
        } finally {
            $outside->stop();
        }

        $inside = new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_WRITERS' => '10.0.0.0/8, 127.0.0.1']);
        try {
            $http = $inside->http();
            $this->assertSame('{"success":true}', $http->postUpload(self::UPLOAD, ['name' => 'App', 'version' => '1'],
                IconFactory::programIcon())['body']);
            $this->assertSame('{"success":true,"exist":true}', $http->postForm(self::EXIST, '&name=App&version=1')['body']);
        } finally {
            $inside->stop();
        }

        try {
            new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_WRITERS' => '127.0.0.1 10.0.0.0/40']);
            $this->fail('the set-up accepted a malformed list of networks');
        } catch (\RuntimeException $refused) {
            $this->assertStringContainsString('the network "10.0.0.0/40" of TALVENOOK_ICONSERVICE_WRITERS', $refused->getMessage());
        }
    }

    // Health: exactly {"success":true} while the database answers, 503 while it cannot be
    // opened, and 200 again once it can, from the same server processes; GET only, never cached.
    public function testHealthFollowsTheDatabase(): void
    {
        $data = TempFolder::create('iconservice-health-');
        $server = new ServiceServer(environment: ['TALVENOOK_ICONSERVICE_DSN' => "sqlite:$data/db/icons.sqlite"]);
        try {
            $http = $server->http();
            $up = $http->get(self::HEALTH);
            $this->assertSame([200, '{"success":true}', 'no-store'], [$up['status'], $up['body'], $up['headers']['cache-control'] ?? null]);
            $this->assertSame(405, $http->postForm(self::HEALTH, '&x=1')['status']);

            TempFolder::remove("$data/db");
            file_put_contents("$data/db", 'a file where the database folder was');
            $down = $http->get(self::HEALTH);
            $this->assertSame([503, '{"success":false,"error":"database unavailable"}'], [$down['status'], $down['body']]);

            unlink("$data/db");
            $back = $http->get(self::HEALTH);
            $this->assertSame([200, '{"success":true}'], [$back['status'], $back['body']]);
        } finally {
            $server->stop();
            TempFolder::remove($data);
        }
    }

    // The removal command beside setup.php: it removes one row and says what went (the icon's
    // bytes too when no other row names them), says so when there was nothing to remove, and
    // refuses wrong usage; the service then wants the removed icon again.
    public function testRemovalCommandSaysWhatItRemoved(): void
    {
        $server = new ServiceServer();
        try {
            $http = $server->http();
            [$shared, $own] = [IconFactory::programIcon(3), IconFactory::programIcon(4)];
            foreach ([['Wrong Café', '1.0', $shared], ['Other', '2.0', $shared], ['Own', '1', $own]] as [$name, $version, $icon]) {
                $this->assertSame(200, $http->postUpload(self::UPLOAD, ['name' => $name, 'version' => $version], $icon)['status']);
            }
            $cases = [
                [['Wrong Café', '1.0'], 0, 'removed "Wrong Café" version "1.0": icon ' . hash('sha256', $shared) . ' (' . strlen($shared)
                    . ' bytes), its bytes kept (another row names them)'],
                [['Own', '1'], 0, 'removed "Own" version "1": icon ' . hash('sha256', $own) . ' (' . strlen($own)
                    . ' bytes), its bytes too (no other row named them)'],
                [['Own', '1'], 1, 'nothing to remove: no icon is stored for "Own" version "1"'],
                [['Other', '2'], 1, 'nothing to remove: no icon is stored for "Other" version "2"'],
                [['Other'], 2, 'usage: php iconservice/remove.php NAME VERSION'],
            ];
            foreach ($cases as [$arguments, $status, $output]) {
                $this->assertSame([$status, "$output\n"], $server->runCommand('remove.php', $arguments), implode(' ', $arguments));
            }
            $this->assertSame([hash('sha256', $shared)], $server->stored()->digests());
            $this->assertSame('{"success":true,"exist":false}', $http->postForm(self::EXIST,
                '&name=' . RawHttp::encodeValue('Wrong Café') . '&version=1.0')['body']);
            $this->assertSame('{"success":true,"exist":true}', $http->postForm(self::EXIST, '&name=Other&version=2.0')['body']);
        } finally {
            $server->stop();
        }
    }
}
