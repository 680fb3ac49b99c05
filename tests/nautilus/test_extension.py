#!/usr/bin/python3
"""The GNOME Files extension, loaded as nautilus-python loads it, against Nautilus' own typelib.

The selection is made of objects that implement the real Nautilus.FileInfo interface, so the
extension reaches them through libnautilus-extension as it does in the file manager. The module
is the one the build wrote, with its translations, naming a recorder instead of the installed
sheet.

Usage: test_extension.py MODULE PROGRAM   (the built zelt-share.py and the sheet it names)
"""
import os
import pathlib
import runpy
import subprocess
import sys
import tempfile
import time
import unittest

import gi

gi.require_version('Nautilus', '4.0')
from gi.repository import Gio, GLib, GObject, Nautilus  # noqa: E402

MODULE = pathlib.Path(sys.argv.pop(1))
PROGRAM = sys.argv.pop(1)
LANGUAGES = ['de', 'fr', 'es', 'pt_BR', 'it', 'ja', 'zh_CN']


class StubFile(GObject.Object, Nautilus.FileInfo):
    """A selected item: a local path, a folder, or a remote URI without a local path."""

    def __init__(self, location, directory=False):
        super().__init__()
        self.location = location
        self.directory = directory

    def do_get_location(self):
        return self.location

    def do_get_uri(self):
        return self.location.get_uri()

    def do_get_uri_scheme(self):
        return self.location.get_uri_scheme()

    def do_get_name(self):
        return self.location.get_basename()

    def do_is_directory(self):
        return self.directory

    def do_get_file_type(self):
        return Gio.FileType.DIRECTORY if self.directory else Gio.FileType.REGULAR

    def do_is_gone(self):
        return False


def local(path, directory=False):
    return StubFile(Gio.File.new_for_path(path), directory)


def remote(uri):
    return StubFile(Gio.File.new_for_uri(uri))


class ExtensionTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        root = pathlib.Path(self.directory.name)
        self.recorded = root / 'recorded'
        # Writes its session and then its arguments, one a line, once it has all of them.
        recorder = root / 'zelt-share'
        recorder.write_text('#!/bin/sh\n'
                            f'{{ ps -o sid= -p $$; pwd; echo "$DESKTOP_STARTUP_ID";'
                            f' echo "$XDG_ACTIVATION_TOKEN"; printf "%s\\n" "$@"; }}'
                            f' > "{self.recorded}.part"\n'
                            f'mv "{self.recorded}.part" "{self.recorded}"\n')
        recorder.chmod(0o700)
        module_path = root / 'zelt-share.py'
        module = MODULE.read_text()
        self.assertEqual(module.count(repr(PROGRAM)), 1)
        module_path.write_text(module.replace(repr(PROGRAM), repr(str(recorder))))
        namespace = runpy.run_path(str(module_path), run_name='zelt_share_extension')
        self.translation = namespace['translation']
        self.translations = namespace['TRANSLATIONS']
        # nautilus-python instantiates each provider class that the module defines.
        providers = [value for value in namespace.values()
                     if isinstance(value, type) and issubclass(value, Nautilus.MenuProvider)
                     and value.__module__ == 'zelt_share_extension']
        self.assertEqual(len(providers), 1)
        self.provider = providers[0]()

    def tearDown(self):
        self.directory.cleanup()

    def items(self, files):
        # As nautilus-python asks for them, and what it requires of the answer.
        items = self.provider.get_file_items(files)
        self.assertTrue(all(isinstance(item, Nautilus.MenuItem) for item in items))
        return items

    def test_item(self):
        items = self.items([local('/home/ana/Annual Report 2024.pdf')])
        self.assertEqual(len(items), 1)
        item = items[0]
        self.assertIsInstance(item, Nautilus.MenuItem)
        self.assertEqual(item.props.label, 'Send to Zelt')
        self.assertEqual(item.props.icon, 'app.zelt.ZeltShare')
        self.assertEqual(item.props.name, 'ZeltShare::SendToZelt')

    def test_languages(self):
        # Every language of the catalogues has both texts of the menu, translated.
        self.assertEqual(sorted(self.translations), sorted(LANGUAGES))
        for language, texts in self.translations.items():
            with self.subTest(language):
                for text in ('Send to Zelt', 'Send the selected files to a Zelt thread or to Tovi'):
                    self.assertTrue(texts.get(text))
                    self.assertNotEqual(texts[text], text)
        # The language chosen as gettext chooses it.
        cases = {
            'LANG': ({'LANG': 'fr_FR.UTF-8'}, 'fr'),
            'LANGUAGE first': ({'LANGUAGE': 'de', 'LANG': 'fr_FR.UTF-8'}, 'de'),
            'LC_ALL over LANG': ({'LC_ALL': 'ja_JP.UTF-8', 'LANG': 'de_DE.UTF-8'}, 'ja'),
            'LC_MESSAGES over LANG': ({'LC_MESSAGES': 'it_IT', 'LANG': 'de_DE.UTF-8'}, 'it'),
            'territory kept': ({'LANG': 'pt_BR.UTF-8'}, 'pt_BR'),
            'territory dropped': ({'LANG': 'de_AT.UTF-8@euro'}, 'de'),
            'no catalogue, next one': ({'LANGUAGE': 'pt_PT:zh_TW:zh_CN', 'LANG': 'pt_PT'}, 'zh_CN'),
            'English first': ({'LANGUAGE': 'en_GB:de', 'LANG': 'de_DE.UTF-8'}, None),
            'C ignores LANGUAGE': ({'LANGUAGE': 'de', 'LANG': 'C.UTF-8'}, None),
            'nothing set': ({}, None),
            'no catalogue at all': ({'LANG': 'sv_SE.UTF-8'}, None),
        }
        for name, (environ, language) in cases.items():
            with self.subTest(name):
                self.assertEqual(self.translation(environ),
                                 self.translations[language] if language else {})

    def test_only_for_what_can_be_shared(self):
        cases = {
            'nothing selected': [],
            'a folder': [local('/home/ana/Pictures', directory=True)],
            'files and a folder': [local('/home/ana/a.txt'), local('/home/ana/b', directory=True)],
            'a remote file without a local path': [remote('sftp://build.example/srv/log.txt')],
            'a local file and a remote one': [local('/home/ana/a.txt'),
                                              remote('smb://nas/share/b.txt')],
        }
        for name, files in cases.items():
            with self.subTest(name):
                self.assertEqual(self.items(files), [])

    def activate(self, files):
        """Activates the one menu item over files; what the sheet was started with."""
        items = self.items(files)
        self.assertEqual(len(items), 1)
        items[0].activate()

        deadline = time.monotonic() + 30
        while not self.recorded.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        lines = self.recorded.read_text().split('\n')
        return {'session': int(lines[0]), 'cwd': lines[1], 'startup_id': lines[2],
                'token': lines[3], 'arguments': '\n'.join(lines[4:-1])}

    def test_activation_starts_the_sheet_on_the_paths(self):
        paths = ['/home/ana/Annual Report 2024.pdf', '/home/ana/--headless',
                 '/home/ana/line\nbreak.txt', '/home/ana/caf\u00e9 *.png']
        started = self.activate([local(path) for path in paths])
        self.assertEqual(started['arguments'], '\n'.join(['--', *paths]))
        self.assertEqual(started['cwd'], '/')
        self.assertNotEqual(started['session'], os.getsid(0))
        # Without a display there is no token, and nothing stale of the file manager's goes on.
        self.assertEqual((started['startup_id'], started['token']), ('', ''))

        # The file manager's main loop reaps the sheet when it ends: no zombie is left.
        self.assertTrue(self.reaped(), 'the sheet was left unreaped')

    def reaped(self):
        context = GLib.MainContext.default()
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            context.iteration(False)
            try:
                os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOHANG | os.WNOWAIT)
            except ChildProcessError:
                return True
            time.sleep(0.05)
        return False

    def test_activation_hands_the_sheet_a_startup_id_on_x11(self):
        # The file manager's display is an X server of the test's own.
        try:
            gi.require_version('Gdk', '4.0')
            from gi.repository import Gdk
        except (ImportError, ValueError):
            self.skipTest('needs the GTK 4 bindings (scripts/install-deps installs them)')
        try:
            server = subprocess.Popen(['Xvfb', '-displayfd', '1', '-nolisten', 'tcp'],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        except FileNotFoundError:
            self.skipTest('needs Xvfb (scripts/install-deps installs it)')
        self.addCleanup(server.stdout.close)
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)
        number = server.stdout.readline().decode().strip()
        display = Gdk.DisplayManager.get().open_display(':' + number)
        self.assertIsNotNone(display)
        Gdk.DisplayManager.get().set_default_display(display)
        self.addCleanup(display.close)

        started = self.activate([local('/home/ana/notes.txt')])
        self.assertRegex(started['startup_id'], r'.+_TIME[0-9]+$')
        self.assertEqual(started['token'], '')


if __name__ == '__main__':
    unittest.main(verbosity=2)
