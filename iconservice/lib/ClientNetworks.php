<?php
// The networks whose clients may send icons: a list of addresses and CIDR ranges, IPv4 and IPv6,
// matched against the address a request came from.
declare(strict_types=1);

namespace IconService;

final class ClientNetworks
{
    /** Loopback and the private ranges: an organisation's own desktops, and no one else. */
    public const PRIVATE = '127.0.0.0/8 ::1 10.0.0.0/8 172.16.0.0/12 192.168.0.0/16 fc00::/7';

    /** @param list<array{string, int}> $ranges  each [packed network address, prefix length] */
    private function __construct(private array $ranges)
    {
    }

    /**
     * The networks of $list: entries separated by spaces or commas, each an address (a range of
     * one) or ADDRESS/PREFIX. Throws ConfigurationError naming the first entry that is neither,
     * so a mistyped list stops the service instead of letting everyone, or no one, in.
     */
    public static function parse(string $list): self
    {
        $ranges = [];
        foreach (preg_split('/[\s,]+/', trim($list), -1, PREG_SPLIT_NO_EMPTY) as $entry) {
            $ranges[] = self::range($entry);
        }
        return new self($ranges);
    }

    /** True when $address (as PHP hands over REMOTE_ADDR) lies in one of the networks. */
    public function contains(string $address): bool
    {
        $packed = self::packed($address);
        if ($packed === null) {
            return false;
        }
        foreach ($this->ranges as [$network, $bits]) {
            if (strlen($network) === strlen($packed) && self::prefix($packed, $bits) === $network) {
                return true;
            }
        }
        return false;
    }

    /** [packed network address, prefix length] of one entry of the list. */
    private static function range(string $entry): array
    {
        [$address, $bits] = explode('/', $entry, 2) + [1 => null];
        $packed = self::packed($address);
        $width = $packed === null ? 0 : strlen($packed) * 8;
        if ($bits === null) {
            $bits = (string) $width;
        }
        if ($packed === null || preg_match('/^\d{1,3}$/', $bits) !== 1 || (int) $bits > $width) {
            throw new ConfigurationError("the network \"$entry\" of TALVENOOK_ICONSERVICE_WRITERS is neither an address"
                . ' nor ADDRESS/PREFIX');
        }
        return [self::prefix($packed, (int) $bits), (int) $bits];
    }

    /**
     * The 4 or 16 bytes of $address, or null when it is none. An IPv4 address that arrives
     * mapped into IPv6 (::ffff:a.b.c.d, from a server listening on both) is its IPv4 address.
     */
    private static function packed(string $address): ?string
    {
        $packed = @inet_pton($address);
        if ($packed === false) {
            return null;
        }
        if (strlen($packed) === 16 && str_starts_with($packed, str_repeat("\0", 10) . "\xff\xff")) {
            return substr($packed, 12);
        }
        return $packed;
    }

    /** $packed with every bit after the first $bits cleared. */
    private static function prefix(string $packed, int $bits): string
    {
        $whole = intdiv($bits, 8);
        $out = substr($packed, 0, $whole);
        if ($whole < strlen($packed)) {
            $out .= chr(ord($packed[$whole]) & (0xFF << (8 - $bits % 8)) & 0xFF);
            $out .= str_repeat("\0", strlen($packed) - $whole - 1);
        }
        return $out;
    }
}
