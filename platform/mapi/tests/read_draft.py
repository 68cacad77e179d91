#!/usr/bin/env python3
"""Reads a mail draft with Python's email package and prints, for each attachment in order, its file
name, content type, length and SHA-256; the first line holds the message's own header facts."""
import email
import email.policy
import hashlib
import sys

with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=email.policy.default)
print("unsent=%s multipart=%s defects=%d" % (message["X-Unsent"], message.get_content_type(),
                                              len(message.defects)))
for part in message.iter_attachments():
    data = part.get_payload(decode=True)
    print("%s|%s|%d|%s|%d" % (part.get_filename(), part.get_content_type(), len(data),
                              hashlib.sha256(data).hexdigest(), len(part.defects)))
