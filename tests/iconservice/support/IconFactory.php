<?php
// Builds ICO files for the tests: 32-bit bitmap images, PNG images, and several in one file.
declare(strict_types=1);

namespace IconService\Tests;

final class IconFactory
{
    /** One 32-bit bitmap image of $size x $size pixels in a diagonal gradient seeded by $seed. */
    public static function bitmapImage(int $size, int $seed = 0): string
    {
        $header = pack('VVVvvVVVVVV', 40, $size, $size * 2, 1, 32, 0, $size * $size * 4, 0, 0, 0, 0);
        $pixels = '';
        for ($y = 0; $y < $size; ++$y) {
            for ($x = 0; $x < $size; ++$x) {
                $pixels .= chr(($x * 5 + $seed * 37) & 0xFF) . chr(($y * 5 + $seed * 11) & 0xFF)
                    . chr((200 + $seed * 53) & 0xFF) . "\xFF";
            }
        }
        $maskRow = intdiv($size + 31, 32) * 4;
        return $header . $pixels . str_repeat("\0", $maskRow * $size);
    }

    /** One RGBA PNG image of $size x $size pixels; $padding goes in an ancillary chunk before the pixels. */
    public static function pngImage(int $size, int $seed = 0, string $padding = ''): string
    {
        $raw = '';
        for ($y = 0; $y < $size; ++$y) {
            $raw .= "\0";
            for ($x = 0; $x < $size; ++$x) {
                $raw .= chr(($x * 5 + $seed) & 0xFF) . chr(120) . chr(($y * 5) & 0xFF) . "\xFF";
            }
        }
        return "\x89PNG\r\n\x1a\n"
            . self::pngChunk('IHDR', pack('NNCCCCC', $size, $size, 8, 6, 0, 0, 0))
            . ($padding === '' ? '' : self::pngChunk('prVt', $padding))
            . self::pngChunk('IDAT', gzcompress($raw))
            . self::pngChunk('IEND', '');
    }

    /**
     * A real PNG of $side x $side black pixels, one bit each: every row is a filter byte and
     * zeros, compressed as it is made, so the file stays small while the picture is huge.
     */
    public static function pngBomb(int $side): string
    {
        $row = str_repeat("\0", 1 + intdiv($side + 7, 8));
        $deflate = deflate_init(ZLIB_ENCODING_DEFLATE, ['level' => 9]);
        $idat = '';
        for ($y = 0; $y < $side; ++$y) {
            $idat .= deflate_add($deflate, $row, ZLIB_NO_FLUSH);
        }
        $idat .= deflate_add($deflate, '', ZLIB_FINISH);
        return "\x89PNG\r\n\x1a\n"
            . self::pngChunk('IHDR', pack('NNCCCCC', $side, $side, 1, 0, 0, 0, 0))
            . self::pngChunk('IDAT', $idat)
            . self::pngChunk('IEND', '');
    }

    /**
     * An ICO file of $images, each ['data' => bytes, 'size' => pixels, 'bits' => bit count].
     * Images follow the directory in order.
     */
    public static function ico(array $images): string
    {
        $directory = pack('vvv', 0, 1, count($images));
        $offset = 6 + 16 * count($images);
        $data = '';
        foreach ($images as $image) {
            $side = $image['size'] >= 256 ? 0 : $image['size'];
            $directory .= pack('CCCCvvVV', $side, $side, 0, 0, 1, $image['bits'] ?? 32,
                strlen($image['data']), $offset);
            $offset += strlen($image['data']);
            $data .= $image['data'];
        }
        return $directory . $data;
    }

    /** A single-image 48x48 bitmap ICO as the program writes it; $seed varies the pixels. */
    public static function programIcon(int $seed = 0): string
    {
        return self::ico([['data' => self::bitmapImage(48, $seed), 'size' => 48]]);
    }

    private static function pngChunk(string $type, string $data): string
    {
        return pack('N', strlen($data)) . $type . $data . pack('N', crc32($type . $data));
    }
}
