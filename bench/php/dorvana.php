<?php
// The terminal server's five commands (q=test, getsprfood, getsprfoodgroup,
// getsprstewards, addorder) in PHP, as a PHP developer would serve them: php-cgi
// as a FastCGI server (php-cgi -b HOST:PORT, PHP_FCGI_CHILDREN children), PDO
// with persistent Firebird connections. A peer for the benchmark: it answers
// the same bytes as the terminal server. The settings file (*.def) and the Orders
// archive live in this file's folder.

header_remove('X-Powered-By');

function reply(string $contentType, string $body, int $status = 200): void
{
    http_response_code($status);
    header('Content-Type: ' . $contentType);
    if ($body !== '') {
        header('Content-Length: ' . strlen($body));
    }
    header('Content:');
    echo $body;
}

// "name=value" fields of a query string or body, decoded, empty ones skipped.
function fields(string $text, bool $lines): array
{
    $parts = preg_split($lines ? '/[&\r\n]/' : '/&/', $text);
    $out = [];
    foreach ($parts as $p) {
        if ($p !== '') {
            $out[] = urldecode($p);
        }
    }
    return $out;
}

function field(array $fields, string $name): string
{
    foreach ($fields as $f) {
        $eq = strpos($f, '=');
        if ($eq !== false && strcasecmp(substr($f, 0, $eq), $name) === 0) {
            return substr($f, $eq + 1);
        }
    }
    return '';
}

function settings(): array
{
    $files = glob(__DIR__ . '/*.[dD][eE][fF]');
    if (!$files) {
        throw new RuntimeException('no settings file');
    }
    $s = ['SERVER NAME' => '', 'USER NAME' => '', 'PASSWORD' => '', 'ROLE NAME' => ''];
    foreach (preg_split('/\r\n|\r|\n/', file_get_contents($files[0])) as $line) {
        $eq = strpos($line, '=');
        if ($eq !== false && array_key_exists(substr($line, 0, $eq), $s)) {
            $s[substr($line, 0, $eq)] = substr($line, $eq + 1);
        }
    }
    return $s;
}

function db(): PDO
{
    $s = settings();
    $dsn = 'firebird:dbname=' . $s['SERVER NAME'] . ';charset=UTF8;dialect=1';
    if (trim($s['ROLE NAME']) !== '') {
        $dsn .= ';role=' . trim($s['ROLE NAME']);
    }
    return new PDO($dsn, rtrim($s['USER NAME']), rtrim($s['PASSWORD']), [
        PDO::ATTR_PERSISTENT => true,
        PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_CASE => PDO::CASE_UPPER,
    ]);
}

function xml(?string $value): string
{
    return htmlspecialchars(trim((string)$value, " \t\n\r\0\x0B"), ENT_NOQUOTES | ENT_XML1, 'UTF-8');
}

// The price as "0.##".
function price($value): string
{
    $s = rtrim(rtrim(number_format((float)$value, 2, '.', ''), '0'), '.');
    return $s === '-0' ? '0' : $s;
}

const DECL = "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>\r";

function test_command(array $query): void
{
    $methods = ['GET' => 1, 'PUT' => 2, 'POST' => 3, 'HEAD' => 4];
    $out = 'type: ' . ($methods[strtoupper($_SERVER['REQUEST_METHOD'] ?? '')] ?? 0) . "\n\r";
    foreach (fields(file_get_contents('php://input'), true) as $f) {
        $out .= $f . "\r\n";
    }
    $out .= 'param_count=' . count($query) . "\n\rparams: \n\r";
    foreach ($query as $f) {
        $out .= $f . "\r\n";
    }
    reply('text/html', $out);
}

function foods(PDO $db, array $query): void
{
    // The driver hands a scaled column over already rounded to its scale (half to
    // even); the price is rounded here, half away from zero, from the full value.
    $st = $db->prepare('select Fullname, Id, IdGroup, DefaultQuantity, cast(PRICE as double precision) as PRICE,'
        . ' ISINPUTPRICE, EdVolume, ISINPUTVOLUME from RESTAURANT_GETPRICEFORMOBILE(?,?)');
    $st->execute([field($query, 'user'), field($query, 'device')]);
    $out = DECL . '<foods>';
    while ($r = $st->fetch(PDO::FETCH_ASSOC)) {
        $out .= "\r<food>" . xml($r['FULLNAME']) . "\r<ID>" . $r['ID'] . "</ID>\r<IDGROUP>" . $r['IDGROUP']
            . "</IDGROUP>\r<DEFQ>" . $r['DEFAULTQUANTITY'] . "</DEFQ>\r<PRICE>" . price($r['PRICE'])
            . "</PRICE>\r<INPUTP>" . $r['ISINPUTPRICE'] . "</INPUTP>\r<VOL>" . xml($r['EDVOLUME'])
            . "</VOL>\r<WGHT>" . $r['ISINPUTVOLUME'] . "</WGHT>\r</food>";
    }
    reply('text/xml', $out . "\r</foods>");
}

function groups(PDO $db, array $query): void
{
    $st = $db->prepare("select Distinct g.Id,g.Name,g.nOrder  from RESTAURANT_GETPRICEFORMOBILE(?,?) p\r\n"
        . "left outer join RESTAURANT_PRICEGROUPS g on p.IdGroup = g.Id\r\nOrder by g.nOrder\r\n");
    $st->execute([field($query, 'user'), field($query, 'device')]);
    $out = DECL . '<foodgroups>';
    while ($r = $st->fetch(PDO::FETCH_ASSOC)) {
        $out .= "\r<foodgroup>" . xml($r['NAME']) . "\r<ID>" . $r['ID'] . "</ID>\r</foodgroup>";
    }
    reply('text/xml', $out . "\r</foodgroups>");
}

function stewards(PDO $db): void
{
    $st = $db->query("select c.code, w.name from RESTAURANT_WAITERS W \r\n"
        . "left outer join RESTAURANT_CARDS c on c.id = w.IdCard\r\nwhere w.Status >=0 Order by W.Name\r\n");
    $out = DECL . '<stewards>';
    while ($r = $st->fetch(PDO::FETCH_ASSOC)) {
        $out .= "\r<steward><pin>" . xml($r['CODE']) . '</pin>' . xml($r['NAME']) . '</steward>';
    }
    reply('text/xml', $out . "\r</stewards>");
}

function order_exists(PDO $db, string $guid): bool
{
    $st = $db->prepare("select count(id) as cnt from Restaurant_ImportedOrders where Guid =?\r\n");
    $st->execute([$guid]);
    return (int)$st->fetchColumn() > 0;
}

// The waiter reads the business exception's own text: the driver gives the
// server's message lines joined by spaces, "exception N EX_RESTAURANT_NAME text
// At procedure ...".
function import_message(string $message): string
{
    if (!preg_match('/EX_RESTAURANT_\w+\s+(.*?)(\s+At (procedure|trigger) .*)?$/su', $message, $m)) {
        return htmlspecialchars(trim($message), ENT_NOQUOTES | ENT_XML1, 'UTF-8');
    }
    // As the terminal server words it: a capital first letter, a full stop at the end.
    $text = ucfirst(trim($m[1]));
    if (substr($text, -1) !== '.') {
        $text .= '.';
    }
    return htmlspecialchars($text, ENT_NOQUOTES | ENT_XML1, 'UTF-8');
}

function add_order(): void
{
    $text = '';
    foreach (fields(file_get_contents('php://input'), true) as $f) {
        $text .= $f . "\r\n";
    }
    // Every posted order is kept as sent.
    @mkdir(__DIR__ . '/Orders');
    for ($draw = 0; ; ++$draw) {
        $path = __DIR__ . '/Orders/order ' . mt_rand(0, 99999) . '.xml';
        $f = @fopen($path, 'x');
        if ($f) {
            break;
        }
        if ($draw > 1000) {
            throw new RuntimeException('No free archive name');
        }
    }
    fwrite($f, $text);
    fclose($f);

    $order = simplexml_load_string($text);
    if ($order === false) {
        throw new RuntimeException('No root element found in xml');
    }
    $guid = (string)$order->GUID;
    $db = db();
    if (order_exists($db, $guid)) {
        reply('text/html', 'ok');
        return;
    }
    try {
        // The driver keeps a transaction open while it commits by itself: it
        // takes auto-commit off before it starts one of its own.
        $db->setAttribute(PDO::ATTR_AUTOCOMMIT, false);
        $db->beginTransaction();
        $db->prepare("Insert into Restaurant_ImportedOrders (id,guid,DEVICEID,WAITERCARDCODE,TABLENUMBER)\r\n"
            . "values (Gen_id(Restaurant_ImportedOrders,1),?,?,?,?)\r\n")
            ->execute([$guid, (string)$order->DEVICEID, (string)$order->PIN, (int)(string)$order->TABLE]);
        $row = $db->prepare("Insert into Restaurant_ImportedOrderRows (id,guidOrder,IDPRICE,Quantity,Volume,isModificator)\r\n"
            . "values (Gen_id(Restaurant_ImportedOrderRows,1),?,?,?,?,?)\r\n");
        foreach ($order->FOODS->children() as $food) {
            $mod = strtoupper(substr((string)$food->isModificator, 0, 1));
            $row->execute([$guid, (int)trim((string)$food), (int)$food->count, (int)$food->weight,
                ($mod === 'T' || $mod === 'Y') ? 1 : 0]);
        }
        $db->prepare("execute procedure restaurant_importorders(?)\r\n")->execute([$guid]);
        $db->commit();
        $db->setAttribute(PDO::ATTR_AUTOCOMMIT, true);
        reply('text/html', 'ok');
    } catch (PDOException $e) {
        if ($db->inTransaction()) {
            $db->rollBack();
        }
        $db->setAttribute(PDO::ATTR_AUTOCOMMIT, true);
        if (order_exists($db, $guid)) {
            reply('text/html', 'ok');
            return;
        }
        reply('text/html', import_message($e->errorInfo[2] ?? $e->getMessage()));
    }
}

try {
    $query = fields($_SERVER['QUERY_STRING'] ?? '', false);
    switch (field($query, 'q')) {
        case 'test':
            test_command($query);
            break;
        case 'getsprfood':
            foods(db(), $query);
            break;
        case 'getsprfoodgroup':
            groups(db(), $query);
            break;
        case 'getsprstewards':
            stewards(db());
            break;
        case 'addorder':
            add_order();
            break;
        default:
            reply('text/html', '');
    }
} catch (Throwable $e) {
    reply('text/plain', $e->getMessage(), 500);
}
