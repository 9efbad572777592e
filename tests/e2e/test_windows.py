"""The windows as a user meets them: the main window's layout and buttons, the tray icon and its menu, the about
box, the settings dialog, a first run, and the name list written to zembrix.cfg byte for byte."""

import subprocess

from harness import (ABOUT, MAIN, MENU_ABOUT, MENU_CLOSE, MENU_PROPERTIES, MENU_SHOW, MESSAGE_BOX, SETTINGS,
                     WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONUP, Main, Program, Settings, config, wine_env, winpath)

WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_CAPTION = 0x80000, 0x40000, 0x20000, 0x10000, 0xC00000
WM_CANCELMODE = 0x001F
PROGRAM_FILES = {"tarvel.exe", "zembrix.ico", "zembrix.url", "zembrix.cfg"}


def rect(drive, window):
    """(left, top, outer width, outer height, client width, client height)."""
    left, top, width, height, _, _, client_w, client_h = map(int, drive("rect", window).split())
    return left, top, width, height, client_w, client_h


def first(drive, window, cls):
    """The first control of a class, as "CLASS@x,y"."""
    return next(c.split("=", 1)[0] for c in drive.children(window) if c.startswith(cls + "@"))


def test_main_window_layout_and_send_buttons(start, drive):
    start("/u", "mailto:", cfg=config())
    drive.wait_shown(MAIN)
    left, top, _, _, client_w, client_h = rect(drive, MAIN)
    assert (left, top, client_w, client_h) == (176, 130, 357, 360)
    style = int(drive("style", MAIN)) & 0xFFFFFFFF
    assert style & WS_CAPTION == WS_CAPTION
    assert style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX) == 0, hex(style)
    controls = set(drive.children(MAIN))
    for want in ("Static@9,8=Name", "Static@9,32=E-mail", "Static@9,56=Subject", "Static@9,80=Attach file",
                 "Static@12,308=Waiting...", "Button@280,76=&Browse", "Button@8,332=&Send", "Button@100,332=&Add",
                 "Button@192,332=&Delete", "Button@284,332=&Close", "ComboBox@60,3=", "Edit@60,27=",
                 "Edit@60,51=", "Edit@60,75=", "Edit@8,100=", "msctls_progress32@176,306="):
        assert want in controls, f"{want} missing from {sorted(controls)}"

    buttons = (Main.SEND, Main.ADD, Main.DELETE)
    assert [drive("enabled", MAIN, b) for b in buttons] == ["0", "0", "0"]
    drive.set_text(MAIN, Main.EMAIL, "a")
    assert [drive("enabled", MAIN, b) for b in buttons] == ["1", "1", "1"]
    drive.set_text(MAIN, Main.EMAIL, "")
    assert [drive("enabled", MAIN, b) for b in buttons] == ["0", "0", "0"]
    assert drive("enabled", MAIN, Main.CLOSE) == "1"


def test_mailto_close_button_ends_the_program(start, drive):
    program = start("/u", "mailto:bob@example.com", cfg=config())
    drive.wait_shown(MAIN)
    drive("click", MAIN, Main.CLOSE)
    assert program.ended(15)


def test_capital_u_is_no_mailto_mode(start, drive):
    start("/U", "mailto:bob@example.com", cfg=config())
    drive.wait_created(MAIN, Main.STATUS)
    drive("tray", MAIN, WM_LBUTTONUP)
    drive.wait_shown(MAIN)
    assert drive.text(MAIN, Main.EMAIL) == ""


def tray_menu_up(drive):
    return any(c == "#32768" and v for c, _, v, _ in drive.toplevels())


def open_tray_menu(drive, tries=3):
    """Right-clicks the tray icon until its menu is up. Without a window manager, Wine passes on the focus
    change of the window hidden a moment before whenever the X server gets round to it; if that is after the
    menu opened, it cancels the menu (WM_CANCELMODE), as a click elsewhere would. A user clicks again; so do we,
    and a menu that never opens still fails."""
    drive.settle()
    for attempt in range(1, tries + 1):
        drive("tray", MAIN, WM_RBUTTONUP)
        try:
            return drive.wait_for(lambda: tray_menu_up(drive), 10 if attempt == tries else 5, "the tray menu")
        except AssertionError:
            if attempt == tries:
                raise


def test_tray_mode_lives_in_the_tray(start, drive):
    program = start(cfg=config())
    drive.wait_created(MAIN, Main.STATUS)
    assert drive("visible", MAIN) == "0"
    drive.wait_for(lambda: drive.tray_icons() == 1, 10, "the tray icon")

    # Only a released left button on icon 0 shows the window.
    drive("tray", MAIN, WM_LBUTTONDBLCLK)
    drive("tray", MAIN, WM_LBUTTONUP, 1)
    drive.settle()
    assert drive("visible", MAIN) == "0"
    drive("tray", MAIN, WM_LBUTTONUP)
    drive.wait_shown(MAIN)

    # Close hides it again; the program stays in the tray.
    drive("click", MAIN, Main.CLOSE)
    drive.wait_for(lambda: drive("visible", MAIN) == "0", 10, "the window hidden")
    assert program.running()

    # A right click pops up the menu; its first item shows the window.
    open_tray_menu(drive)
    drive("post", MAIN, WM_CANCELMODE, 0, 0)
    drive.wait_for(lambda: not tray_menu_up(drive), 10, "the menu gone")
    drive("menu", MAIN, MENU_SHOW)
    drive.wait_shown(MAIN)

    drive("menu", MAIN, MENU_CLOSE)
    assert program.ended(15), "the menu's Close did not end the program"
    drive.wait_for(lambda: drive.tray_icons() == 0, 10, "the tray icon removed")


def test_about_box_once_and_again(start, drive):
    start(cfg=config())
    drive.wait_created(MAIN, Main.STATUS)
    drive("menu", MAIN, MENU_ABOUT)
    drive.wait_shown(ABOUT)
    left, top, width, height, client_w, client_h = rect(drive, ABOUT)
    assert (client_w, client_h) == (344, 166)
    assert (left, top) == ((1024 - width) // 2, (768 - height) // 2)  # centred on the 1024 x 768 screen
    texts = [c.split("=", 1)[1] for c in drive.children(ABOUT)]
    for want in ("Tarvel Pro", "Ver: 1.5", "For help on an item, just let the mouse pointer rest over it.",
                 "See the Tarvel home page for the latest updates, changes ",
                 "and help with troubleshooting. Remember to check back often.", "&Close"):
        assert want in texts, f"{want!r} missing from {texts}"
    url = next(t for t in texts if t.startswith("The URL is: "))

    # The address line cannot be edited: it snaps back.
    address = first(drive, ABOUT, "Edit")
    drive.set_text(ABOUT, address, "edited")
    drive.wait_text(ABOUT, address, url)

    drive("menu", MAIN, MENU_ABOUT)
    drive.settle()
    assert len(drive.toplevels(ABOUT)) == 1
    drive("click", ABOUT, "Button=&Close")
    drive.wait_gone(ABOUT)
    drive("menu", MAIN, MENU_ABOUT)
    drive.wait_shown(ABOUT)


def test_settings_show_edit_and_save_the_file(start, drive, program_dir):
    cfg = config(server="127.0.0.1", port=2525, email="me@example.com", entry="Gone ISP", password="pw", dial=True,
                 names=[("Ann", "ann@example.com")])
    start(cfg=cfg)
    drive.wait_created(MAIN, Main.STATUS)
    drive("menu", MAIN, MENU_PROPERTIES)
    drive.wait_shown(SETTINGS)
    assert (drive.text(SETTINGS, Settings.SMTP), drive.text(SETTINGS, Settings.PORT),
            drive.text(SETTINGS, Settings.EMAIL), drive.text(SETTINGS, Settings.PASSWORD)) == \
        ("127.0.0.1", "2525", "me@example.com", "pw")
    # The phone book has no "Gone ISP": dialling is off and cannot be switched on.
    assert drive("checked", SETTINGS, Settings.DIALUP) == "0"
    assert drive("enabled", SETTINGS, Settings.DIALUP) == "0"
    drive("menu", MAIN, MENU_PROPERTIES)
    drive.settle()
    assert len(drive.toplevels(SETTINGS)) == 1

    # A value the file cannot carry is refused with a message naming the field; nothing is written.
    drive.set_text(SETTINGS, Settings.SMTP, "mail.example.org:25")
    drive("click", SETTINGS, Settings.OK)
    drive.wait_shown(MESSAGE_BOX)
    message = " ".join(c.split("=", 1)[1] for c in drive.children(MESSAGE_BOX))
    assert "SMTP server" in message, message
    drive("click", MESSAGE_BOX, "Button=OK")
    drive.wait_gone(MESSAGE_BOX)
    assert (program_dir / "zembrix.cfg").read_bytes() == cfg
    assert drive("visible", SETTINGS) == "1"

    drive.set_text(SETTINGS, Settings.SMTP, "mail.example.org")
    drive.set_text(SETTINGS, Settings.PORT, "submission")
    drive.set_text(SETTINGS, Settings.EMAIL, "new@example.org")
    drive("click", SETTINGS, Settings.OK)
    drive.wait_gone(SETTINGS)
    assert (program_dir / "zembrix.cfg").read_bytes() == config(
        server="mail.example.org", port="submission", email="new@example.org", entry="", password="pw",
        dial=False, names=[("Ann", "ann@example.com")])
    assert {p.name for p in program_dir.iterdir()} == PROGRAM_FILES


def test_settings_cancel_writes_nothing(start, drive, program_dir):
    cfg = config(names=[("Ann", "ann@example.com")])
    start(cfg=cfg)
    drive.wait_created(MAIN, Main.STATUS)
    drive("menu", MAIN, MENU_PROPERTIES)
    drive.wait_shown(SETTINGS)
    drive.set_text(SETTINGS, Settings.SMTP, "elsewhere.example.org")
    drive("click", SETTINGS, Settings.CANCEL)
    drive.wait_gone(SETTINGS)
    assert (program_dir / "zembrix.cfg").read_bytes() == cfg


def test_first_run_asks_for_settings_and_cancel_leaves_no_file(start, drive, program_dir):
    program = start()
    drive.wait_shown(SETTINGS)
    assert drive("visible", MAIN) == "0"
    assert (drive.text(SETTINGS, Settings.SMTP), drive.text(SETTINGS, Settings.PORT),
            drive.text(SETTINGS, Settings.EMAIL)) == ("", "25", "")
    drive("menu", MAIN, MENU_ABOUT)
    drive.wait_shown(ABOUT)
    assert drive.text(ABOUT, first(drive, ABOUT, "Button")) == "&Continue"
    drive("click", SETTINGS, Settings.CANCEL)
    drive.wait_gone(SETTINGS)
    assert program.running()
    assert not (program_dir / "zembrix.cfg").exists()

    # Nothing was saved, so the next start is a first run again.
    program.kill()
    start()
    drive.wait_shown(SETTINGS)


def test_first_run_ok_writes_the_file(start, drive, program_dir):
    start()
    drive.wait_shown(SETTINGS)
    drive.set_text(SETTINGS, Settings.EMAIL, "me@example.org")
    drive.set_text(SETTINGS, Settings.SMTP, "smtp.example.org")
    drive.set_text(SETTINGS, Settings.PORT, "587")
    drive("click", SETTINGS, Settings.OK)
    drive.wait_gone(SETTINGS)
    assert (program_dir / "zembrix.cfg").read_bytes() == b"smtp.example.org:587\r\nme@example.org\r\n:\r\nFALSE\r\n"


def test_first_run_takes_defaults_from_another_mailer(start, drive, program_dir):
    key = r"HKCU\Software\Microsoft\Internet Mail and News\Mail"

    def reg(*args):
        subprocess.run(["wine", "reg", *args], env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)

    for name, value in (("Sender Name", "Ann Other"), ("Sender Email", "ann@example.net"),
                        ("Default SMTP Server", "smtp.example.net")):
        reg("add", key, "/v", name, "/d", value, "/f")
    try:
        start()
        drive.wait_shown(SETTINGS)
        assert (drive.text(SETTINGS, Settings.EMAIL), drive.text(SETTINGS, Settings.SMTP)) == \
            ("ann@example.net", "smtp.example.net")
    finally:
        reg("delete", r"HKCU\Software\Microsoft\Internet Mail and News", "/f")


def test_name_list_add_pick_delete_written_byte_exact(tray_program, drive, program_dir):
    path = program_dir / "zembrix.cfg"
    ann = ("Ann", "ann@example.com")
    tray_program(config(names=[ann]))
    assert drive("count", MAIN, Main.NAME) == "1"

    drive.compose(name="Bob Smith", email="bob@example.com;carl@example.com", subject="Keep me", body="Keep me too")
    drive("press", MAIN, Main.ADD)
    bob = ("Bob Smith", "bob@example.com;carl@example.com")
    assert path.read_bytes() == config(names=[ann, bob])
    assert drive.items(MAIN, Main.NAME) == \
        ["Ann", "Bob Smith"]
    fields = drive.fields()
    assert (fields["name"], fields["email"]) == ("", "")
    assert (fields["subject"], fields["body"]) == ("Keep me", "Keep me too")  # the name list never wipes them
    assert [drive("enabled", MAIN, b) for b in (Main.SEND, Main.ADD, Main.DELETE)] == ["0", "0", "0"]

    # The same name again, and an empty name, are entries of their own.
    drive.compose(name="Bob Smith", email="bob@example.org")
    drive("press", MAIN, Main.ADD)
    drive.compose(name="", email="solo@example.com")
    drive("press", MAIN, Main.ADD)
    bob2, solo = ("Bob Smith", "bob@example.org"), ("", "solo@example.com")
    assert path.read_bytes() == config(names=[ann, bob, bob2, solo])

    # Delete with no entry picked changes nothing.
    drive.compose(email="x@example.com")
    drive("press", MAIN, Main.DELETE)
    assert path.read_bytes() == config(names=[ann, bob, bob2, solo])

    drive("pick", MAIN, Main.NAME, 0)
    drive.wait_text(MAIN, Main.EMAIL, "ann@example.com")
    assert drive.fields()["subject"] == "Keep me"
    drive("press", MAIN, Main.DELETE)
    assert path.read_bytes() == config(names=[bob, bob2, solo])
    assert {p.name for p in program_dir.iterdir()} == PROGRAM_FILES

    # After a restart the entries come back in their order, each with its own address.
    drive("menu", MAIN, MENU_CLOSE)
    drive.wait_gone(MAIN)
    tray_program(None)
    assert drive.items(MAIN, Main.NAME) == ["Bob Smith", "Bob Smith", ""]
    drive("pick", MAIN, Main.NAME, 1)
    drive.wait_text(MAIN, Main.EMAIL, "bob@example.org")


def test_about_box_link_opens_the_shortcut_beside_the_program(tmp_path, drive, program_dir, registry_value):
    """Started from elsewhere (as from a link or a shortcut), the program still opens its own zembrix.url."""
    opened = tmp_path / "opened.url"
    # The shell's command for internet shortcuts, for this test: keep a copy of the file it was given.
    registry_value(r"HKLM\Software\Classes\InternetShortcut\shell\open\command",
                   f'cmd.exe /c copy "%1" "{winpath(opened)}"')
    (program_dir / "zembrix.cfg").write_bytes(config())
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    program = Program(program_dir, cwd=elsewhere)
    try:
        drive.wait_created(MAIN, Main.STATUS)
        drive("menu", MAIN, MENU_ABOUT)
        drive.wait_shown(ABOUT)
        drive("mouseup", ABOUT, first(drive, ABOUT, "Edit"))
        drive.wait_for(lambda: opened.exists() and opened.stat().st_size > 0, 30, "the shortcut opened")
        assert opened.read_bytes() == (program_dir / "zembrix.url").read_bytes()
    finally:
        program.kill()
        drive("gone", MAIN, 10000, check=False)
