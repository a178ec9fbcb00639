"""A throw-away code-signing key and self-signed certificate, made with openssl."""

import os
import subprocess


def make_signer(folder, name):
    """Returns (key path, certificate path) of a new signer called name."""
    os.makedirs(folder, exist_ok=True)
    key, cert = os.path.join(folder, f"{name}.key"), os.path.join(folder, f"{name}.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", f"/CN={name}", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return key, cert


def verify(program, cert):
    """osslsigncode's verdict on program's signature, checked against cert only."""
    return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", program],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
