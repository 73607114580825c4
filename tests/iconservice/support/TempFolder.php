<?php
// Temporary folders for test data, removed again by the tests.
declare(strict_types=1);

namespace IconService\Tests;

final class TempFolder
{
    public static function create(string $prefix): string
    {
        $path = sys_get_temp_dir() . '/' . $prefix . bin2hex(random_bytes(6));
        if (!mkdir($path, 0777, true)) {
            throw new \RuntimeException("cannot create $path");
        }
        return $path;
    }

    public static function remove(string $path): void
    {
        if (is_link($path) || is_file($path)) {
            @unlink($path);
            return;
        }
        if (!is_dir($path)) {
            return;
        }
        foreach (scandir($path) as $entry) {
            if ($entry !== '.' && $entry !== '..') {
                self::remove("$path/$entry");
            }
        }
        @rmdir($path);
    }
}
