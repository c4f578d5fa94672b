// Proxy auto-configuration for the Corvalen tunnel: web traffic goes through
// the local proxy, local and private addresses go direct.
function FindProxyForURL(url, host) {
  var tunnel = "PROXY 127.0.0.1:8088";
  if (isPlainHostName(host) ||
      host == "localhost" ||
      shExpMatch(host, "*.local") ||
      shExpMatch(host, "*.localhost") ||
      shExpMatch(host, "[*]") ||
      shExpMatch(host, "::1"))
    return "DIRECT";
  if (/^\d+\.\d+\.\d+\.\d+$/.test(host)) {
    if (isInNet(host, "127.0.0.0", "255.0.0.0") ||
        isInNet(host, "10.0.0.0", "255.0.0.0") ||
        isInNet(host, "172.16.0.0", "255.240.0.0") ||
        isInNet(host, "192.168.0.0", "255.255.0.0") ||
        isInNet(host, "169.254.0.0", "255.255.0.0") ||
        isInNet(host, "100.64.0.0", "255.192.0.0") ||
        isInNet(host, "0.0.0.0", "255.0.0.0"))
      return "DIRECT";
  }
  if (url.substring(0, 5) == "http:" || url.substring(0, 6) == "https:")
    return tunnel;
  return "DIRECT";
}
