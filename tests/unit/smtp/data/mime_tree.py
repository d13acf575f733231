"""Parses a message file with the standard library's MIME parser and prints
its part tree, one line per part (fields separated by "|"); the decoded
content of every leaf part is written to <outdir>/<path>.bin."""
import os
import sys
from email import policy
from email.parser import BytesParser


def walk(part, path, outdir):
    fields = [path, part.get_content_type(), "defects=%d" % len(part.defects)]
    if part.is_multipart():
        fields.append("parts=%d" % len(part.get_payload()))
        print("|".join(fields))
        for i, sub in enumerate(part.get_payload(), 1):
            walk(sub, "%s.%d" % (path, i), outdir)
        return
    data = part.get_payload(decode=True) or b""
    with open(os.path.join(outdir, path + ".bin"), "wb") as f:
        f.write(data)
    fields += ["cte=%s" % part.get("Content-Transfer-Encoding", ""),
               "disp=%s" % part.get_content_disposition(),
               "name=%s" % part.get_filename(),
               "cid=%s" % part.get("Content-ID"),
               "fid=%s" % part.get("X-File-ID"),
               "len=%d" % len(data)]
    print("|".join(fields))


with open(sys.argv[1], "rb") as f:
    message = BytesParser(policy=policy.default).parse(f)
walk(message, "0", sys.argv[2])
