<?php
// A folder of ICO files named after the SHA-256 digest of their bytes ("<digest>.ico"): where
// icons were kept before they lived in the database. The set-up reads them once to take them
// over; the service never writes or removes a file there.
declare(strict_types=1);

namespace IconService;

final class IconFolder
{
    private const SUFFIX = '.ico';

    public function __construct(private string $path)
    {
    }

    /** Creates $folder (and its parents) when missing; throws when that fails. */
    public static function ensure(string $folder): void
    {
        if (!is_dir($folder) && !@mkdir($folder, 0775, true) && !is_dir($folder)) {
            throw new \RuntimeException("cannot create folder $folder");
        }
    }

    /** The bytes of $digest's file, or null when there is none or it cannot be read. */
    public function read(string $digest): ?string
    {
        if (preg_match('/^[0-9a-f]{64}$/', $digest) !== 1) {
            return null;
        }
        $bytes = @file_get_contents($this->path . '/' . $digest . self::SUFFIX);
        return $bytes === false ? null : $bytes;
    }
}
