"""What the corvane-cli oracle scripts share: the result lists' names, failures gathered as the
checks go, a file's digest, and the ending that turns the failures into the exit status."""
import hashlib

MATCHED = "包含内容并成功修改的文件目录.txt"
UNMATCHED = "不包含内容无修改的文件目录.txt"
OPEN_FAILED = "无法打开修改的文件目录(文件格式有误).txt"

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL:", message)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def verdict():
    """The exit status: 1 with the count printed when any check failed, 0 otherwise."""
    if failures:
        print("%d failure(s)" % len(failures))
        return 1
    print("ok")
    return 0
