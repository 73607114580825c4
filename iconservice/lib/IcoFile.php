<?php
// Structural check of an uploaded ICO file before it is stored.
//
// Layout (Windows icon resource file): a 6-byte header (reserved 0, type 1, image count), one
// 16-byte directory entry per image (width, height, colour count, reserved, planes, bit count,
// byte size, file offset; little-endian), then the images, each a PNG stream or a DIB starting
// with a BITMAPINFOHEADER.
declare(strict_types=1);

namespace IconService;

final class IcoFile
{
    public const MAX_BYTES = 1048576;
    private const HEADER_BYTES = 6;
    private const ENTRY_BYTES = 16;
    private const PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
    private const BITMAP_HEADER_MIN = 40;

    /**
     * Returns null when $bytes is a well-formed ICO file of at most MAX_BYTES, otherwise a short
     * reason fit for the client. Every directory entry must point at a non-empty image that lies
     * wholly inside the file, after the directory, and starts like a PNG or a DIB.
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
            $problem = self::imageProblem($bytes, $entry['offset'], $entry['length'], $directoryEnd);
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
}
