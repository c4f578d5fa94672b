<?php
// Corvalen fetch server (protocol CFP/1, see README.md).
//
// Put this file on a PHP 7.4+ host with the curl extension. The local proxy
// of the tunnel service sends each browser request here as one POST; this
// script performs it and streams the answer back as it arrives.

// ---------------------------------------------------------------- settings
// Shared password. Empty: requests are accepted unsigned. The environment
// variable CORVALEN_FETCH_PASSWORD, when set, takes its place.
$CORVALEN_PASSWORD = '';
// Targets on loopback, link-local and private addresses are refused unless
// this is true or the environment has CORVALEN_FETCH_ALLOW_PRIVATE=1.
$CORVALEN_ALLOW_PRIVATE = false;
// A signed request is valid this many seconds either side of our clock.
$CORVALEN_MAX_SKEW = 300;
$CORVALEN_CONNECT_TIMEOUT = 10;
// ------------------------------------------------------------------------

const CFP_CONTENT_TYPE = 'application/x-corvalen-fetch';
const CFP_VERSION = 'CFP/1';
const CFP_MAX_HEAD = 262144;
const CFP_MAC_LENGTH = 64;
const CFP_BLOCK = 1048576;

if (getenv('CORVALEN_FETCH_PASSWORD') !== false) $CORVALEN_PASSWORD = (string)getenv('CORVALEN_FETCH_PASSWORD');
if (getenv('CORVALEN_FETCH_ALLOW_PRIVATE') === '1') $CORVALEN_ALLOW_PRIVATE = true;

function cfp_answer(int $status, string $marker, string $text): void {
    http_response_code($status);
    header('Content-Type: text/plain; charset=utf-8');
    header('Cache-Control: no-store');
    header('X-Corvalen-Fetch: ' . $marker);
    echo $text . "\n";
    exit;
}
function cfp_refuse(string $why): void { cfp_answer(403, 'refused', 'refused: ' . $why); }
function cfp_error(string $why): void { cfp_answer(502, 'error', 'error: ' . $why); }

// ---- anything but an envelope: a short sign of life
$method = $_SERVER['REQUEST_METHOD'] ?? 'GET';
$type = strtolower(trim(explode(';', $_SERVER['CONTENT_TYPE'] ?? '')[0]));
if ($method !== 'POST' || $type !== CFP_CONTENT_TYPE) {
    cfp_answer(200, 'ready', 'Corvalen fetch server (' . CFP_VERSION . ') ready; curl ' .
        (function_exists('curl_init') ? 'available' : 'MISSING'));
}
if (!function_exists('curl_init')) cfp_error('the PHP curl extension is not installed on the fetch server');

// ---- the envelope head
$in = fopen('php://input', 'rb');
if ($in === false) cfp_refuse('cannot read the request');
$head = '';
$headEnd = false;
while (!feof($in) && strlen($head) <= CFP_MAX_HEAD) {
    $piece = fread($in, 8192);
    if ($piece === false || $piece === '') break;
    $head .= $piece;
    $headEnd = strpos($head, "\r\n\r\n");
    if ($headEnd !== false) break;
}
if ($headEnd === false) cfp_refuse('malformed envelope (no head)');
$headLength = $headEnd + 4;
$head = substr($head, 0, $headLength);
$lines = explode("\r\n", substr($head, 0, $headEnd));
if (array_shift($lines) !== CFP_VERSION) cfp_refuse('unsupported protocol version');
$meta = [];
$headers = [];
foreach ($lines as $line) {
    $colon = strpos($line, ': ');
    if ($colon === false) cfp_refuse('malformed envelope line');
    $key = substr($line, 0, $colon);
    $value = substr($line, $colon + 2);
    if ($key === 'h') {
        if (!preg_match('/^([!#$%&\'*+.^_`|~0-9A-Za-z-]+):[ \t]*(.*)$/s', $value, $m) ||
            preg_match('/[\x00-\x08\x0a-\x1f\x7f]/', $m[2])) {
            cfp_refuse('malformed header field in envelope');
        }
        $headers[] = [$m[1], $m[2]];
    } elseif (isset($meta[$key])) {
        cfp_refuse('duplicate envelope field ' . $key);
    } else {
        $meta[$key] = $value;
    }
}
foreach (['method', 'url', 'time', 'nonce', 'length', 'auth'] as $key) {
    if (!isset($meta[$key])) cfp_refuse('envelope field missing: ' . $key);
}
if (!preg_match('/^[!#$%&\'*+.^_`|~0-9A-Za-z-]+$/', $meta['method'])) cfp_refuse('invalid method');
if (!preg_match('/^[0-9]{1,18}$/', $meta['length'])) cfp_refuse('invalid body length');
if (!preg_match('/^[0-9]{1,12}$/', $meta['time'])) cfp_refuse('invalid time');
if (!preg_match('/^[0-9a-f]{32}$/', $meta['nonce'])) cfp_refuse('invalid nonce');
if ($meta['auth'] !== 'none' && $meta['auth'] !== 'hmac-sha256') cfp_refuse('unknown auth scheme');
$bodyLength = (int)$meta['length'];
$signed = $meta['auth'] === 'hmac-sha256';
$total = $headLength + $bodyLength + ($signed ? CFP_MAC_LENGTH : 0);
if (isset($_SERVER['CONTENT_LENGTH']) && (int)$_SERVER['CONTENT_LENGTH'] !== $total) {
    cfp_refuse('envelope length does not match the request');
}

// True for an address on the public internet. IPv4 addresses written inside
// IPv6 ones (::ffff:a.b.c.d, ::a.b.c.d, 64:ff9b::a.b.c.d) are judged by their
// IPv4 part, so that ::ffff:127.0.0.1 is loopback like 127.0.0.1.
function cfp_is_public(string $ip): bool {
    $bin = @inet_pton($ip);
    if ($bin === false) return false;
    if (strlen($bin) === 16) {
        $prefix = substr($bin, 0, 12);
        if ($prefix === str_repeat("\0", 10) . "\xff\xff" || $prefix === str_repeat("\0", 12) ||
            $prefix === "\x00\x64\xff\x9b" . str_repeat("\0", 8)) {
            return cfp_is_public((string)inet_ntop(substr($bin, 12)));
        }
    } else {
        $b = array_values(unpack('C4', $bin));
        if ($b[0] === 100 && ($b[1] & 0xC0) === 64) return false;           // 100.64.0.0/10, carrier NAT
        if ($b[0] === 192 && $b[1] === 0 && $b[2] === 0) return false;       // 192.0.0.0/24
        if ($b[0] === 198 && ($b[1] & 0xFE) === 18) return false;            // 198.18.0.0/15
    }
    return (bool)filter_var($ip, FILTER_VALIDATE_IP, FILTER_FLAG_NO_PRIV_RANGE | FILTER_FLAG_NO_RES_RANGE);
}

// Re-reads php://input from the first body byte.
function cfp_body_stream(int $offset) {
    $s = fopen('php://input', 'rb');
    if ($s === false) return false;
    if (@fseek($s, $offset) !== 0) {
        $skip = $offset;
        while ($skip > 0 && !feof($s)) {
            $d = fread($s, min($skip, CFP_BLOCK));
            if ($d === false || $d === '') break;
            $skip -= strlen($d);
        }
        if ($skip > 0) return false;
    }
    return $s;
}

// ---- authentication: HMAC-SHA256 over head and body, fresh time, unused nonce
if ($CORVALEN_PASSWORD !== '') {
    if (!$signed) cfp_refuse('this fetch server requires a password (set "password" in proxy.ini)');
    $ctx = hash_init('sha256', HASH_HMAC, $CORVALEN_PASSWORD);
    hash_update($ctx, $head);
    $s = cfp_body_stream($headLength);
    if ($s === false) cfp_refuse('cannot read the request body');
    $left = $bodyLength;
    while ($left > 0) {
        $d = fread($s, min($left, CFP_BLOCK));
        if ($d === false || $d === '') break;
        hash_update($ctx, $d);
        $left -= strlen($d);
    }
    $mac = $left === 0 ? (string)fread($s, CFP_MAC_LENGTH) : '';
    fclose($s);
    if ($left !== 0 || strlen($mac) !== CFP_MAC_LENGTH) cfp_refuse('request body incomplete');
    if (!hash_equals(hash_final($ctx), strtolower($mac))) {
        cfp_refuse('signature mismatch (wrong password, or the request was altered)');
    }
    $now = time();
    if (abs($now - (int)$meta['time']) > $CORVALEN_MAX_SKEW) {
        cfp_refuse('request time outside the allowed window (check the computer clock)');
    }
    $dir = rtrim(sys_get_temp_dir(), '/\\') . DIRECTORY_SEPARATOR . 'corvalen-fetch-' .
        substr(hash('sha256', __FILE__ . "\0" . $CORVALEN_PASSWORD), 0, 16);
    if (!is_dir($dir)) @mkdir($dir, 0700, true);
    $mark = @fopen($dir . DIRECTORY_SEPARATOR . $meta['nonce'], 'x');
    if ($mark === false) {
        if (!is_dir($dir)) cfp_error('cannot record request nonces in ' . $dir);
        cfp_refuse('replayed request (nonce already used)');
    }
    fclose($mark);
    if (mt_rand(0, 199) === 0) {
        foreach ((array)glob($dir . DIRECTORY_SEPARATOR . '*') as $old) {
            if (@filemtime($old) < $now - 2 * $CORVALEN_MAX_SKEW - 60) @unlink($old);
        }
    }
}

// ---- the target
$url = $meta['url'];
$parts = parse_url($url);
if ($parts === false || !isset($parts['scheme'], $parts['host']) ||
    !in_array(strtolower($parts['scheme']), ['http', 'https'], true) || isset($parts['user']) ||
    preg_match('/[\x00-\x20\x7f]/', $url)) {
    cfp_refuse('invalid target URL');
}
$scheme = strtolower($parts['scheme']);
$host = $parts['host'];
$port = $parts['port'] ?? ($scheme === 'https' ? 443 : 80);
$resolve = [];
if (!$CORVALEN_ALLOW_PRIVATE) {
    $bare = trim($host, '[]');
    if (filter_var($bare, FILTER_VALIDATE_IP)) {
        $addresses = [$bare];
    } else {
        $addresses = @gethostbynamel($bare);
        if ($addresses === false || !$addresses) cfp_error('cannot resolve ' . $bare);
    }
    foreach ($addresses as $a) {
        if (!cfp_is_public($a)) {
            cfp_refuse('target address not allowed (loopback, link-local or private): ' . $a);
        }
    }
    // curl connects to the address checked here, not to a second lookup.
    if (!filter_var($bare, FILTER_VALIDATE_IP)) $resolve[] = $bare . ':' . $port . ':' . $addresses[0];
}

// ---- the request
$reqMethod = $meta['method'];
$sendHeaders = ['Expect:'];
$hasAccept = false;
foreach ($headers as [$name, $value]) {
    $lower = strtolower($name);
    if (in_array($lower, ['host', 'content-length', 'transfer-encoding', 'connection', 'expect'], true)) continue;
    if ($lower === 'accept') $hasAccept = true;
    $sendHeaders[] = $name . ': ' . $value;
}
if (!$hasAccept) $sendHeaders[] = 'Accept:';  // no header of curl's own

$ch = curl_init();
curl_setopt_array($ch, [
    CURLOPT_URL => $url,
    CURLOPT_HTTP_VERSION => CURL_HTTP_VERSION_1_1,
    CURLOPT_FOLLOWLOCATION => false,
    CURLOPT_HEADER => false,
    CURLOPT_HTTPHEADER => $sendHeaders,
    CURLOPT_CONNECTTIMEOUT => $CORVALEN_CONNECT_TIMEOUT,
    CURLOPT_BUFFERSIZE => 1048576,
    CURLOPT_TCP_NODELAY => true,
    CURLOPT_ENCODING => null,  // bodies pass as the target sent them
]);
if (defined('CURLOPT_PROTOCOLS')) curl_setopt($ch, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
if ($resolve) curl_setopt($ch, CURLOPT_RESOLVE, $resolve);
// The target's certificate is always checked, against the system's CAs and,
// when CORVALEN_FETCH_CAFILE names a PEM bundle, its CAs as well: curl takes
// that bundle as its CA file and finds the system's CAs in their hashed
// folder, looked up one by one (a file holding every system CA would be
// parsed again for each request, about 20 ms).
curl_setopt($ch, CURLOPT_SSL_VERIFYPEER, true);
curl_setopt($ch, CURLOPT_SSL_VERIFYHOST, 2);
$extraCa = getenv('CORVALEN_FETCH_CAFILE');
if ($extraCa !== false && $extraCa !== '') {
    if (!is_file($extraCa) || !is_readable($extraCa)) cfp_error('CORVALEN_FETCH_CAFILE names no readable file');
    curl_setopt($ch, CURLOPT_CAINFO, $extraCa);
    $systemDir = function_exists('openssl_get_cert_locations')
        ? (string)(openssl_get_cert_locations()['default_cert_dir'] ?? '') : '';
    if ($systemDir === '' || !is_dir($systemDir)) $systemDir = '/etc/ssl/certs';
    if (is_dir($systemDir)) curl_setopt($ch, CURLOPT_CAPATH, $systemDir);
}

$body = null;
if ($reqMethod === 'HEAD') {
    curl_setopt($ch, CURLOPT_NOBODY, true);
} elseif ($bodyLength > 0 || in_array($reqMethod, ['POST', 'PUT', 'PATCH'], true)) {
    $body = cfp_body_stream($headLength);
    if ($body === false) cfp_refuse('cannot read the request body');
    $bodyLeft = $bodyLength;
    curl_setopt_array($ch, [
        CURLOPT_UPLOAD => true,
        CURLOPT_CUSTOMREQUEST => $reqMethod,
        CURLOPT_INFILE => $body,
        CURLOPT_INFILESIZE => $bodyLength,
        CURLOPT_READFUNCTION => function ($ch, $fd, $want) use ($body, &$bodyLeft) {
            if ($bodyLeft <= 0) return '';
            $d = fread($body, min($want, $bodyLeft));
            if ($d === false) return '';
            $bodyLeft -= strlen($d);
            return $d;
        },
    ]);
} elseif ($reqMethod !== 'GET') {
    curl_setopt($ch, CURLOPT_CUSTOMREQUEST, $reqMethod);
}

// ---- the answer, streamed
@ini_set('zlib.output_compression', '0');
@ini_set('output_buffering', '0');
while (ob_get_level() > 0) ob_end_flush();
set_time_limit(0);

$status = '';
$fields = [];
$headSent = false;
$pending = '';
$aborted = false;
$received = 0;
$declared = null;  // the target's Content-Length, when it sent one

// The envelope head. It is kept back and leaves together with the first
// piece of the body (or the end mark): with output buffering off every echo
// is a write of its own, so each block is echoed as one string.
function cfp_head(string $status, array $fields): string {
    header('Content-Type: ' . CFP_CONTENT_TYPE);
    header('Cache-Control: no-store');
    header('X-Accel-Buffering: no');
    header('X-Corvalen-Fetch: ok');
    $out = CFP_VERSION . ' ' . $status . "\r\n";
    foreach ($fields as $f) $out .= $f . "\r\n";
    return $out . "\r\n";
}

curl_setopt($ch, CURLOPT_HEADERFUNCTION, function ($ch, $line) use (&$status, &$fields, &$headSent, &$pending, &$declared) {
    $length = strlen($line);
    $text = rtrim($line, "\r\n");
    if (preg_match('/^HTTP\/\d(?:\.\d)? (\d{3})(?: (.*))?$/', $text, $m)) {
        $reason = preg_replace('/[\x00-\x08\x0a-\x1f\x7f]/', '', $m[2] ?? '');
        $status = $m[1] . ' ' . $reason;
        $fields = [];
        return $length;
    }
    if ($text === '') {
        // The end of a head: a 1xx answer is followed by the real one.
        if ($status !== '' && $status[0] !== '1' && !$headSent) {
            $pending = cfp_head($status, $fields);
            $headSent = true;
            foreach ($fields as $f) {
                if (preg_match('/^content-length:[ \t]*([0-9]{1,18})[ \t]*$/i', $f, $m)) $declared = (int)$m[1];
            }
        }
        return $length;
    }
    if (($text[0] === ' ' || $text[0] === "\t") && $fields) {
        $fields[count($fields) - 1] .= ' ' . trim($text);  // a folded line joins the one before
    } elseif (preg_match('/^[!#$%&\'*+.^_`|~0-9A-Za-z-]+:/', $text) &&
              !preg_match('/[\x00-\x08\x0a-\x1f\x7f]/', $text)) {
        $fields[] = $text;
    }
    return $length;
});
curl_setopt($ch, CURLOPT_WRITEFUNCTION, function ($ch, $data) use (&$headSent, &$pending, &$aborted, &$received, &$declared) {
    $n = strlen($data);
    if (!$headSent) return 0;
    $received += $n;
    $frame = $pending . dechex($n) . "\r\n" . $data;
    if ($declared !== null && $received >= $declared) {
        // The body is complete: this piece leaves with the end mark.
        $pending = $frame;
        return $n;
    }
    echo $frame;
    $pending = '';
    flush();
    if (connection_aborted()) {
        $aborted = true;
        return 0;
    }
    return $n;
});

$ok = curl_exec($ch);
$error = curl_error($ch);
curl_close($ch);
if ($body) fclose($body);

if (!$headSent) {
    if ($ok) {
        cfp_error('the target sent no usable response head');
    }
    cfp_error('cannot fetch ' . $url . ': ' . ($error !== '' ? $error : 'unknown failure'));
}
if ($aborted) exit;
echo $pending . "0\r\n" . ($ok ? "ok\r\n" : 'error ' . preg_replace('/[\r\n]+/', ' ', $error ?: 'transfer failed') . "\r\n");
flush();
