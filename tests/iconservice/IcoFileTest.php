<?php
// The ICO check that guards what the service stores.
declare(strict_types=1);

namespace IconService\Tests;

use IconService\IcoFile;
use PHPUnit\Framework\TestCase;

final class IcoFileTest extends TestCase
{
    // Well-formed files: bitmap, PNG, several images, and the 1 MiB limit itself.
    public function testAcceptsWellFormedIcons(): void
    {
        $this->assertNull(IcoFile::problem(IconFactory::programIcon()));
        $this->assertNull(IcoFile::problem(IconFactory::ico([['data' => IconFactory::pngImage(256), 'size' => 256]])));
        $this->assertNull(IcoFile::problem(IconFactory::ico([
            ['data' => IconFactory::bitmapImage(16), 'size' => 16],
            ['data' => IconFactory::pngImage(48), 'size' => 48],
            ['data' => IconFactory::bitmapImage(32), 'size' => 32],
        ])));
        $this->assertNull(IcoFile::problem(self::iconOfSize(IcoFile::MAX_BYTES)));
        $this->assertSame('icon file is larger than 1 MiB', IcoFile::problem(self::iconOfSize(IcoFile::MAX_BYTES + 1)));
    }

    // Header faults: nothing, a cut header, a cursor or other file, no images.
    public function testRefusesBadHeaders(): void
    {
        $this->assertSame('icon file is empty', IcoFile::problem(''));
        $this->assertSame('icon file is truncated: incomplete header', IcoFile::problem("\0\0\1"));
        $this->assertSame('not an ICO file: bad header', IcoFile::problem("\0\0\2\0\1\0" . str_repeat("\0", 60)));
        $this->assertSame('not an ICO file: bad header', IcoFile::problem("\x89PNG\r\n\x1a\n" . str_repeat("\0", 60)));
        $this->assertSame('ICO file holds no image', IcoFile::problem("\0\0\1\0\0\0"));
    }

    // Truncation at every point of a real icon is refused: header, directory, image data.
    public function testRefusesEveryTruncation(): void
    {
        $icon = IconFactory::ico([
            ['data' => IconFactory::bitmapImage(16), 'size' => 16],
            ['data' => IconFactory::pngImage(48), 'size' => 48],
        ]);
        for ($length = 1; $length < strlen($icon); $length += ($length < 200 ? 1 : 97)) {
            $this->assertNotNull(IcoFile::problem(substr($icon, 0, $length)), "accepted the first $length bytes");
        }
        $this->assertSame('image 1: image lies outside the file (truncated?)', IcoFile::problem(substr($icon, 0, -1)));
    }

    // Directory entries that point nowhere sensible: into the directory, past the end (also with
    // offsets near 2^32 that would wrap in 32-bit arithmetic), or at an empty or unknown image.
    public function testRefusesEntriesOutsideTheFile(): void
    {
        $icon = IconFactory::programIcon();
        $this->assertSame('image 0: image overlaps the header or directory', IcoFile::problem(self::withEntry($icon, null, 6)));
        $this->assertSame('image 0: image lies outside the file (truncated?)', IcoFile::problem(self::withEntry($icon, null, 0xFFFFFFF0)));
        $this->assertSame('image 0: image lies outside the file (truncated?)', IcoFile::problem(self::withEntry($icon, 0xFFFFFFFF, null)));
        $this->assertSame('image 0: empty image', IcoFile::problem(self::withEntry($icon, 0, null)));
        $garbage = substr($icon, 0, 22) . str_repeat("\x7F", strlen($icon) - 22);
        $this->assertSame('image 0: image is neither PNG nor bitmap', IcoFile::problem($garbage));
        $twoEntriesOneImage = "\0\0\1\0\2\0" . substr($icon, 6, 16) . substr($icon, 6, 16) . substr($icon, 22);
        $this->assertNotNull(IcoFile::problem($twoEntriesOneImage));
    }

    // The attack: a small file whose PNG frame declares 30000x30000 pixels, behind a directory
    // entry that says 256x256 (0), alone or after a good frame. What must hold: refused.
    public function testRefusesImageBombs(): void
    {
        $bomb = IconFactory::pngBomb(30000);
        $this->assertLessThan(IcoFile::MAX_BYTES, strlen($bomb));
        $expected = 'PNG image is 30000x30000 pixels, outside the ICO limit of 1 to 256';
        $this->assertSame("image 0: $expected", IcoFile::problem(IconFactory::ico([['data' => $bomb, 'size' => 256]])));
        $this->assertSame("image 1: $expected", IcoFile::problem(IconFactory::ico([
            ['data' => IconFactory::bitmapImage(16), 'size' => 16], ['data' => $bomb, 'size' => 256]])));
    }

    // Every frame's own header must give its directory entry's size, at most 256x256: a PNG's
    // IHDR (which must come first), a bitmap's width and twice its height.
    public function testRefusesFramesOfAnotherSizeThanTheirEntry(): void
    {
        $png48 = IconFactory::pngImage(48);
        $cases = [
            'image 0: PNG image is 48x48 pixels, its directory entry says 32x32' => [['data' => $png48, 'size' => 32]],
            'image 0: PNG image is 48x48 pixels, its directory entry says 256x256' => [['data' => $png48, 'size' => 256]],
            'image 1: bitmap image is 16x16 pixels, its directory entry says 48x48' =>
                [['data' => $png48, 'size' => 48], ['data' => IconFactory::bitmapImage(16), 'size' => 48]],
            'image 0: PNG image is 300x2 pixels, outside the ICO limit of 1 to 256' => [['data' => self::pngWithSides(300, 2), 'size' => 44]],
            'image 0: PNG image is 0x48 pixels, outside the ICO limit of 1 to 256' => [['data' => self::pngWithSides(0, 48), 'size' => 48]],
            'image 0: bitmap image is 4096x4096 pixels, outside the ICO limit of 1 to 256' =>
                [['data' => self::bitmapWithSides(4096, 8192), 'size' => 256]],
            'image 0: bitmap image is 48x-48 pixels, outside the ICO limit of 1 to 256' =>
                [['data' => self::bitmapWithSides(48, -96), 'size' => 48]],
            'image 0: bitmap image has 47 rows, not the colour and mask rows of an icon' =>
                [['data' => self::bitmapWithSides(48, 47), 'size' => 48]],
            'image 0: PNG image does not start with its IHDR header' =>
                [['data' => "\x89PNG\r\n\x1a\n" . pack('N', 0) . 'IEND' . pack('N', 0xAE426082) . str_repeat("\0", 20), 'size' => 48]],
            'image 0: PNG image is truncated: no IHDR header' => [['data' => substr($png48, 0, 20), 'size' => 48]],
        ];
        foreach ($cases as $expected => $images) {
            $this->assertSame($expected, IcoFile::problem(IconFactory::ico($images)), $expected);
        }
        // 256 written as 0 in the entry, and a bitmap's doubled height, are the size itself.
        $this->assertNull(IcoFile::problem(IconFactory::ico([['data' => IconFactory::bitmapImage(256), 'size' => 256]])));
        $this->assertNull(IcoFile::problem(IconFactory::ico([['data' => IconFactory::pngImage(1), 'size' => 1]])));
    }

    /** A 48x48 PNG whose IHDR says $width x $height instead. */
    private static function pngWithSides(int $width, int $height): string
    {
        return substr_replace(IconFactory::pngImage(48), pack('NN', $width, $height), 16, 8);
    }

    /** A 48x48 bitmap whose header says $width wide and $rows rows high instead. */
    private static function bitmapWithSides(int $width, int $rows): string
    {
        return substr_replace(IconFactory::bitmapImage(48), pack('VV', $width & 0xFFFFFFFF, $rows & 0xFFFFFFFF), 4, 8);
    }

    /** A bitmap icon padded so that the whole file is $bytes long. */
    private static function iconOfSize(int $bytes): string
    {
        $image = IconFactory::bitmapImage(48);
        $image .= str_repeat("\0", $bytes - 22 - strlen($image));
        return IconFactory::ico([['data' => $image, 'size' => 48]]);
    }

    /** $icon with the first directory entry's length and/or offset replaced. */
    private static function withEntry(string $icon, ?int $length, ?int $offset): string
    {
        if ($length !== null) {
            $icon = substr_replace($icon, pack('V', $length), 14, 4);
        }
        if ($offset !== null) {
            $icon = substr_replace($icon, pack('V', $offset), 18, 4);
        }
        return $icon;
    }
}
