<?php
// The gallery page: received icons at 48x48 with name, version and time of upload, newest first.
declare(strict_types=1);

namespace IconService;

final class GalleryView
{
    public const PAGE_SIZE = 60;

    /**
     * Renders page $page (1-based) of $pages with $rows as returned by Storage::newest.
     * Every stored text goes through escape(); nothing stored reaches the page raw.
     */
    public static function render(array $rows, int $page, int $pages, int $total): string
    {
        $items = '';
        foreach ($rows as $row) {
            $items .= self::item($row);
        }
        if ($items === '') {
            $items = '<p class="empty">No icons received yet.</p>';
        }
        $counter = $total === 1 ? '1 icon' : "$total icons";
        return '<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Talvenook icon gallery</title>
<style>
body{font:14px/1.3 sans-serif;margin:1.5em;background:#f6f6f4;color:#222}
h1{font-size:1.4em;margin:0 0 .2em}
.summary{color:#555;margin:0 0 1em}
.icons{display:grid;grid-template-columns:repeat(auto-fill,minmax(150px,1fr));gap:10px;list-style:none;padding:0;margin:0}
.icons li{background:#fff;border:1px solid #ddd;border-radius:6px;padding:10px;text-align:center;overflow-wrap:anywhere}
.icons img{width:48px;height:48px;display:block;margin:0 auto 6px}
.name{font-weight:bold}
.version,.time{color:#666;font-size:12px}
nav{margin:1em 0}nav a,nav span{margin-right:1em}
</style></head>
<body>
<h1>Talvenook icon gallery</h1>
<p class="summary">' . $counter . ', newest first. Page ' . $page . ' of ' . $pages . '.</p>
<ul class="icons">
' . $items . '</ul>
' . self::pager($page, $pages) . '
</body></html>
';
    }

    private static function item(array $row): string
    {
        $name = self::escape($row['name']);
        $time = gmdate('Y-m-d H:i:s', intdiv($row['uploaded_at'], 1000)) . ' UTC';
        return '<li><img src="index.php?r=sw/icon&amp;sha256=' . $row['sha256'] . '" width="48" height="48" alt="' . $name . '">'
            . '<div class="name">' . $name . '</div>'
            . '<div class="version">' . self::escape($row['version']) . '</div>'
            . '<div class="time">' . $time . "</div></li>\n";
    }

    private static function pager(int $page, int $pages): string
    {
        $links = [];
        if ($page > 1) {
            $links[] = '<a rel="prev" href="index.php?r=sw/gallery&amp;page=' . ($page - 1) . '">&larr; Newer</a>';
        }
        if ($page < $pages) {
            $links[] = '<a rel="next" href="index.php?r=sw/gallery&amp;page=' . ($page + 1) . '">Older &rarr;</a>';
        }
        return $links === [] ? '' : '<nav>' . implode('', $links) . '</nav>';
    }

    /** HTML-escapes text for element content and quoted attributes; invalid UTF-8 is replaced. */
    public static function escape(string $text): string
    {
        return htmlspecialchars($text, ENT_QUOTES | ENT_SUBSTITUTE | ENT_HTML5, 'UTF-8');
    }
}
