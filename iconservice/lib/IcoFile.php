<?php
// Structural check of an uploaded ICO file before it is stored.
//
// Layout (Windows icon resource file): a 6-byte header (reserved 0, type 1, image count), one
// 16-byte directory entry per image (width, height, colour count, reserved, planes, bit count,
// byte size, file offset; little-endian), then the images, each a PNG stream or a DIB starting
// with a BITMAPINFOHEADER.
//
// An image is at most 256x256 pixels (a 0 in the entry's width or height byte means 256), and
// its own header must give the size its entry gives: the PNG's IHDR chunk (first after the
// signature; width and height big-endian), or the DIB's width and height (little-endian, the
// height counting the colour rows and the mask rows, so twice the icon's). A file of a few
// hundred kilobytes can otherwise declare a picture of billions of pixels for every viewer of
// the gallery to decode.
declare(strict_types=1);

namespace IconService;

final class IcoFile
{
    public const MAX_BYTES = 1048576;
    private const HEADER_BYTES = 6;
    private const ENTRY_BYTES = 16;
    private const PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
    private const BITMAP_HEADER_MIN = 40;
    private const MAX_SIDE = 256;
    /** Signature, then the IHDR chunk's length, type, width and height. */
    private const PNG_SIZE_END = 8 + 4 + 4 + 4 + 4;

    /**
     * Returns null when $bytes is a well-formed ICO file of at most MAX_BYTES, otherwise a short
     * reason fit for the client. Every directory entry must point at a non-empty image that lies
     * wholly inside the file, after the directory, and starts like a PNG or a DIB whose header
     * gives the entry's size, at most 256x256.
     */
    public static function problem(string $bytes): ?string
    {
        $size = strlen($bytes);
        if ($size === 0) {
            return 'icon file is empty';
        }
        if ($size > self::MAX_BYTES) {
            return 'icon file is larger than 1 MiB';
        }
        if ($size < self::HEADER_BYTES) {
            return 'icon file is truncated: incomplete header';
        }
        ['reserved' => $reserved, 'type' => $type, 'count' => $count] =
            unpack('vreserved/vtype/vcount', $bytes);
        if ($reserved !== 0 || $type !== 1) {
            return 'not an ICO file: bad header';
        }
        if ($count === 0) {
            return 'ICO file holds no image';
        }
        $directoryEnd = self::HEADER_BYTES + $count * self::ENTRY_BYTES;
        if ($directoryEnd > $size) {
            return 'icon file is truncated: incomplete directory';
        }
        for ($i = 0; $i < $count; ++$i) {
            $entry = unpack('Cwidth/Cheight/Ccolours/Creserved/vplanes/vbits/Vlength/Voffset',
                $bytes, self::HEADER_BYTES + $i * self::ENTRY_BYTES);
            $problem = self::imageProblem($bytes, $entry['offset'], $entry['length'], $directoryEnd)
                ?? self::sizeProblem($bytes, $entry['offset'], $entry['length'],
                    $entry['width'] ?: self::MAX_SIDE, $entry['height'] ?: self::MAX_SIDE);
            if ($problem !== null) {
                return "image $i: $problem";
            }
        }
        return null;
    }

    /** Checks one image's place in the file and the first bytes of its data. */
    private static function imageProblem(string $bytes, int $offset, int $length, int $directoryEnd): ?string
    {
        if ($length === 0) {
            return 'empty image';
        }
        if ($offset < $directoryEnd) {
            return 'image overlaps the header or directory';
        }
        // Offsets and lengths are unsigned 32-bit values; PHP integers are 64-bit, so no overflow.
        if ($offset + $length > strlen($bytes)) {
            return 'image lies outside the file (truncated?)';
        }
        if ($length >= 8 && substr($bytes, $offset, 8) === self::PNG_SIGNATURE) {
            return null;
        }
        if ($length >= self::BITMAP_HEADER_MIN) {
            $headerSize = unpack('V', $bytes, $offset)[1];
            if ($headerSize >= self::BITMAP_HEADER_MIN && $headerSize <= $length) {
                return null;
            }
        }
        return 'image is neither PNG nor bitmap';
    }

    /**
     * Checks the size an image's own header declares (PNG IHDR or DIB) against the ICO limit and
     * its directory entry's $entryWidth x $entryHeight. The image is known to lie in the file and
     * to start like a PNG or a DIB of at least BITMAP_HEADER_MIN bytes.
     */
    private static function sizeProblem(string $bytes, int $offset, int $length, int $entryWidth, int $entryHeight): ?string
    {
        if (substr($bytes, $offset, 8) === self::PNG_SIGNATURE) {
            if ($length < self::PNG_SIZE_END) {
                return 'PNG image is truncated: no IHDR header';
            }
            $ihdr = unpack('Nlength/a4type/Nwidth/Nheight', $bytes, $offset + 8);
            if ($ihdr['type'] !== 'IHDR' || $ihdr['length'] !== 13) {
                return 'PNG image does not start with its IHDR header';
            }
            return self::sidesProblem('PNG', $ihdr['width'], $ihdr['height'], $entryWidth, $entryHeight);
        }
        $dib = unpack('Vwidth/Vheight', $bytes, $offset + 4);
        // Signed 32-bit values; a negative height (top-down rows) is not allowed in an icon.
        $width = $dib['width'] >= 0x80000000 ? $dib['width'] - 0x100000000 : $dib['width'];
        $rows = $dib['height'] >= 0x80000000 ? $dib['height'] - 0x100000000 : $dib['height'];
        if ($rows % 2 !== 0) {
            return "bitmap image has $rows rows, not the colour and mask rows of an icon";
        }
        return self::sidesProblem('bitmap', $width, intdiv($rows, 2), $entryWidth, $entryHeight);
    }

    private static function sidesProblem(string $kind, int $width, int $height, int $entryWidth, int $entryHeight): ?string
    {
        if ($width < 1 || $height < 1 || $width > self::MAX_SIDE || $height > self::MAX_SIDE) {
            return "$kind image is {$width}x{$height} pixels, outside the ICO limit of 1 to 256";
        }
        if ($width !== $entryWidth || $height !== $entryHeight) {
            return "$kind image is {$width}x{$height} pixels, its directory entry says {$entryWidth}x{$entryHeight}";
        }
        return null;
    }
}
