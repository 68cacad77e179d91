"""Reads a mail draft with Python's email package and writes each attachment into a folder: one line per
attachment, "name|content type|path written", after a first line with the count of defects."""
import email
import email.policy
import os
import sys

with open(sys.argv[1], "rb") as handle:
    message = email.message_from_binary_file(handle, policy=email.policy.default)
defects = len(message.defects) + sum(len(part.defects) for part in message.walk())
print("defects=%d" % defects)
for index, part in enumerate(message.iter_attachments()):
    path = os.path.join(sys.argv[2], "attachment-%d" % index)
    with open(path, "wb") as out:
        out.write(part.get_content())
    print("%s|%s|%s" % (part.get_filename(), part.get_content_type(), path))
