"""A private headless LibreOffice reached over UNO, for tests that let a real spreadsheet
application do an edit itself. Needs Debian's python3-uno."""
import os
import subprocess
import time


class Office:
    def __init__(self, workdir, pipe_prefix="corvane_office", attempts=240):
        import uno
        from com.sun.star.beans import PropertyValue
        self.uno, self._property = uno, PropertyValue
        self.desktop = None
        pipe = "%s_%d" % (pipe_prefix, os.getpid())
        soffice = os.environ.get("CORVANE_SOFFICE") or "soffice"
        self.proc = subprocess.Popen([soffice, "--headless", "--invisible", "--norestore", "--nologo",
                                      "-env:UserInstallation=file://" + os.path.join(workdir, "profile"),
                                      "--accept=pipe,name=%s;urp;" % pipe],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        ctx = None
        for _ in range(attempts):
            try:
                ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.5)
        if ctx is None:
            self.close()
            raise RuntimeError("LibreOffice did not answer")
        self.context = ctx
        self.desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)

    def prop(self, name, value):
        p = self._property()
        p.Name, p.Value = name, value
        return p

    def load(self, path):
        return self.desktop.loadComponentFromURL(self.uno.systemPathToFileUrl(os.path.abspath(path)),
                                                 "_blank", 0, (self.prop("Hidden", True),))

    def close(self):
        try:
            if self.desktop is not None:
                self.desktop.terminate()
        except Exception:
            pass  # the bridge goes down as LibreOffice quits
        try:
            self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
