<?php
// A real SOAP client against the running service: loads the published WSDL and
// calls every operation of ISoapTest, checking each answer. Prints one line per
// check and exits 1 when any failed.
$wsdl = $argv[1];
$failures = 0;

function check($name, $got, $want) {
  global $failures;
  if ($got === $want) {
    echo "ok   php $name\n";
  } else {
    $failures++;
    echo "FAIL php $name\n  expected: " . var_export($want, true) . "\n  actual:   " .
        var_export($got, true) . "\n";
  }
}

try {
  $client = new SoapClient($wsdl, ['cache_wsdl' => WSDL_CACHE_NONE, 'trace' => 1,
                                   'exceptions' => true]);
} catch (Throwable $e) {
  echo "FAIL php loads the WSDL: " . $e->getMessage() . "\n";
  exit(1);
}

$functions = $client->__getFunctions();
sort($functions);
check('WSDL functions', $functions, [
  'TDoubleArray echoDoubleArray(TDoubleArray $Value)',
  'TEnumTest echoEnum(TEnumTest $Value)',
  'TMyEmployee echoMyEmployee(TMyEmployee $Value)',
  'double echoDouble(double $Value)',
]);

function call($name, $fn) {
  global $failures, $client;
  try {
    return $fn($client);
  } catch (SoapFault $f) {
    $failures++;
    echo "FAIL php $name: fault " . $f->faultstring . "\n" . $client->__getLastResponse() . "\n";
    return null;
  }
}

foreach ([2.5, 0.0, -1.0e300, 0.1, 123456.789] as $d) {
  check("echoDouble($d)", call('echoDouble', fn($c) => $c->echoDouble($d)), $d);
}
foreach (['etNone', 'etAFew', 'etSome', 'etAlot'] as $m) {
  check("echoEnum($m)", call('echoEnum', fn($c) => $c->echoEnum($m)), $m);
}
check('echoDoubleArray of four',
      call('echoDoubleArray', fn($c) => $c->echoDoubleArray([1.5, -2.0, 3.0e10, 0.25])),
      [1.5, -2.0, 3.0e10, 0.25]);
check('echoDoubleArray of one', call('echoDoubleArray', fn($c) => $c->echoDoubleArray([7.0])),
      [7.0]);
$empty = call('echoDoubleArray', fn($c) => $c->echoDoubleArray([]));
check('echoDoubleArray empty', $empty === null ? [] : $empty, []);

$employee = call('echoMyEmployee', fn($c) => $c->echoMyEmployee(
    ['LastName' => 'Doe', 'FirstName' => 'John', 'Salary' => 1000.5]));
check('echoMyEmployee answers an object', is_object($employee), true);
check('echoMyEmployee LastName', $employee->LastName ?? null, '');
check('echoMyEmployee FirstName', $employee->FirstName ?? null, '');
check('echoMyEmployee Salary', $employee->Salary ?? null, 0.0);

// A value the service can't read comes back as a fault naming it.
try {
  $client->__soapCall('echoEnum', [new SoapVar('etMany', XSD_STRING, null, null, 'Value')]);
  check('echoEnum(etMany) is a fault', false, true);
} catch (SoapFault $f) {
  check('echoEnum(etMany) fault', $f->faultstring, "Value: 'etMany' is not a member of TEnumTest");
  check('echoEnum(etMany) faultcode', $f->faultcode, 'SOAP-ENV:Server');
}

exit($failures == 0 ? 0 : 1);
