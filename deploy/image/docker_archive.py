#!/usr/bin/env python3
"""Wraps a root file system tarball into a one-layer image in the docker-archive format (what
`docker save` writes), which docker load, podman load, kind load image-archive and
k3s ctr images import read.

    docker_archive.py ROOTFS.tar NAME:TAG OUT.tar
"""

import hashlib
import io
import json
import sys
import tarfile


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main(rootfs, name, out):
    layer = sha256_of(rootfs)
    config = json.dumps({
        "architecture": "amd64",
        "os": "linux",
        "config": {
            "Env": ["PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"],
            "Cmd": ["cvcomp", "--help"],
            "WorkingDir": "/",
        },
        "rootfs": {"type": "layers", "diff_ids": [f"sha256:{layer}"]},
        "history": [{"created_by": "deploy/image/build.sh"}],
    }, sort_keys=True).encode()
    config_name = hashlib.sha256(config).hexdigest() + ".json"
    manifest = json.dumps([{"Config": config_name, "RepoTags": [name],
                            "Layers": [f"{layer}/layer.tar"]}]).encode()
    with tarfile.open(out, "w", format=tarfile.PAX_FORMAT) as archive:
        for member, content in ((config_name, config), ("manifest.json", manifest)):
            info = tarfile.TarInfo(member)
            info.size = len(content)
            archive.addfile(info, io.BytesIO(content))
        archive.add(rootfs, arcname=f"{layer}/layer.tar")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(*sys.argv[1:])
