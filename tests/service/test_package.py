"""The tunnel service package as the build made it, and its copy inside the
main program: entries at the archive's root, deflate-compressed files, the
folder entry "certs/", proxy.ini's keys, the PAC file's rules, a GBK read-me,
and the archive embedded byte for byte."""
import configparser
import os
import unittest
import zipfile

PACKAGE = os.environ["CORVALEN_PACKAGE_ZIP"]
MAIN_EXE = os.environ["CORVALEN_MAIN_EXE"]
LAUNCHER = os.environ["CORVALEN_LAUNCHER_EXE"]
PROXY = os.environ["CORVALEN_PROXY_EXE"]


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(PACKAGE, "rb") as f:
            cls.data = f.read()
        cls.archive = zipfile.ZipFile(PACKAGE)

    def test_entries_at_the_root(self):
        names = [i.filename for i in self.archive.infolist()]
        self.assertEqual(sorted(names),
                         ["certs/", "corvalen.exe", "proxy.ini", "proxy.pac", "python27.exe", "readme.txt"])
        self.assertIsNone(self.archive.testzip())
        for info in self.archive.infolist():
            self.assertNotIn("/", info.filename.rstrip("/"), info.filename)
            if info.filename.endswith("/"):
                self.assertTrue(info.external_attr & 0x10, "folder entry without the directory attribute")
                self.assertEqual(info.file_size, 0)
            else:
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, info.filename)
                self.assertFalse(info.external_attr & 0x10, info.filename)
                self.assertGreater(info.file_size, 0, info.filename)
        self.assertEqual(self.data[:4], b"PK\x03\x04")

    def test_executables_are_the_built_ones(self):
        for name, path in (("corvalen.exe", LAUNCHER), ("python27.exe", PROXY)):
            with open(path, "rb") as f:
                self.assertEqual(self.archive.read(name), f.read(), name)
            self.assertEqual(self.archive.read(name)[:2], b"MZ")

    def test_proxy_ini(self):
        ini = configparser.ConfigParser()
        ini.read_string(self.archive.read("proxy.ini").decode("ascii"))
        self.assertEqual(dict(ini["php"]), {"enable": "1", "listen": "127.0.0.1:8088", "fetchserver": "", "password": ""})

    def test_pac_sends_web_traffic_to_the_tunnel_and_local_direct(self):
        pac = self.archive.read("proxy.pac").decode("ascii")
        self.assertIn("function FindProxyForURL(url, host)", pac)
        self.assertIn('"PROXY 127.0.0.1:8088"', pac)
        for net in ("127.0.0.0", "10.0.0.0", "172.16.0.0", "192.168.0.0", "169.254.0.0"):
            self.assertIn(f'isInNet(host, "{net}"', pac)
        self.assertIn("isPlainHostName(host)", pac)

    def test_readme_is_gbk(self):
        text = self.archive.read("readme.txt").decode("gbk")
        self.assertIn("127.0.0.1:8088", text)
        self.assertIn("使用", text)

    def test_main_program_carries_the_archive_unchanged(self):
        with open(MAIN_EXE, "rb") as f:
            exe = f.read()
        self.assertEqual(exe.count(self.data), 1)


if __name__ == "__main__":
    unittest.main()
