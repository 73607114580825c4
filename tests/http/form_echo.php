<?php
// Echoes what PHP decoded from a form POST: one line per field, name and value in hexadecimal
// ("<hex name>=<hex value>"), so the test compares exact bytes whatever their encoding.
header('Content-Type: text/plain');
foreach ($_POST as $name => $value) {
    echo bin2hex((string)$name), '=', bin2hex(is_array($value) ? 'array' : (string)$value), "\n";
}
