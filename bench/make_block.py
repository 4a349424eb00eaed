#!/usr/bin/env python3
"""Writes a large, realistic block file for the benchmark.

The block looks like what an aerotriangulation exports: several photogroups
with their camera model, photos with full pose and EXIF metadata, control
points with tens of measurements each and a big TiePoints section, indented
with tabs. The same arguments and seed always give the same bytes.

    bench/make_block.py OUT.xml                  # the default block, about 88 MB
    bench/make_block.py OUT.xml --photos 200 --tie-points 10000
    bench/make_block.py OUT.xml --tie-attributes --tie-comments --utf16

The switches change only the form of the file, never its values: the
TiePoints section gains attributes (--tie-attributes) or comments, a
processing instruction and a CDATA section (--tie-comments), and the whole
file can be written in UTF-16 (--utf16). A block written with any of them
converts to the same GCI file as the block written without.

Only the standard library is used.
"""

import argparse
import math
import random
import sys

DEFAULTS = {
    "photos": 2000,
    "photogroups": 4,
    "points": 300,
    "measurements": 30,
    "tie_points": 150000,
    "tie_measurements": 3,
    "seed": 1,
    # Switches of the file's form; False gives the plain block.
    "tie_attributes": False,
    "tie_comments": False,
    "utf16": False,
}
SWITCHES = ("tie_attributes", "tie_comments", "utf16")

# (name, width, height, focal length mm, sensor width mm, folder, file name pattern)
CAMERAS = [
    ("Nadir 24mm", 6000, 4000, 24.0, 23.5, "C:/data/flight1", "IMG_{:04d}.JPG"),
    ("Oblique forward 35mm", 7952, 5304, 35.0, 35.9, "C:/data/flight1", "DSC{:05d}.JPG"),
    ("Oblique left 35mm", 7952, 5304, 35.0, 35.9, "C:\\data\\flight2", "DSC{:05d}.JPG"),
    ("Oblique right 35mm", 7952, 5304, 35.0, 35.9, "D:\\survey\\flight2\\right", "R_{:05d}.tif"),
    ("Drone 8.8mm", 5472, 3648, 8.8, 13.2, "/data/drone/mission_3", "DJI_{:04d}.JPG"),
]

# Attribute lists of the TiePoint start tags under --tie-attributes, taken in
# turn. Their values hold `>`, `/` and `/>`, in both quote styles and with
# entity references, one tag has white space around `=` and one spans lines:
# the forms a reader that steps over the section without reading it must
# still get right.
TIE_POINT_ATTRIBUTES = [
    ' id="{n}" note="a > b / c"',
    " id='{n}' note='say \"x > y\" / 2'",
    " id = \"{n}\" note=\"/>\" kind='auto'",
    '\n\t\t\t\tid="{n}"\n\t\t\t\tnote="&lt;/TiePoint&gt; &amp; &quot;/&gt;&quot;"',
]
# Attribute lists of the first measurement of each tie point, taken in turn.
TIE_MEASUREMENT_ATTRIBUTES = [' kind="tie"', " weight='1' note=\"x/>y\""]

# Under --tie-comments: a comment at the start of the TiePoints section whose
# text looks like the markup around it, a processing instruction in the
# second tie point, a CDATA section in the third, and a comment before every
# hundredth tie point and at the end of the section.
TIE_OPENING_COMMENT = (
    "\t\t\t<!-- Tie points follow. A comment may hold what looks like markup:\n"
    '\t\t\t     <TiePoint id="0"> </TiePoint> </TiePoints> </Block> <Measurement/> > / /> & -->\n'
)
TIE_INSTRUCTION = "\t\t\t\t<?note a processing instruction: </TiePoint> > / ?>\n"
TIE_CDATA = "\t\t\t\t<![CDATA[</TiePoint></TiePoints> & <Measurement> ]] > / />]]>\n"

# Ground origin of the block (a UTM-like projected system) and its extent in metres.
EAST, NORTH, GROUND, EXTENT = 32500.0, 5401800.0, 80.0, 1200.0


def rotation_rows(rng):
    """A proper rotation matrix near nadir, as three rows of three floats."""
    omega = math.radians(rng.uniform(-3.0, 3.0)) + math.pi
    phi = math.radians(rng.uniform(-3.0, 3.0))
    kappa = math.radians(rng.uniform(-180.0, 180.0))
    co, so = math.cos(omega), math.sin(omega)
    cp, sp = math.cos(phi), math.sin(phi)
    ck, sk = math.cos(kappa), math.sin(kappa)
    return [
        [cp * ck, co * sk + so * sp * ck, so * sk - co * sp * ck],
        [-cp * sk, co * ck - so * sp * sk, so * ck + co * sp * sk],
        [sp, -so * cp, co * cp],
    ]


def photogroup_header(out, number, camera, rng):
    name, width, height, focal, sensor, _, _ = camera
    out.append(
        "\t\t\t<Photogroup>\n"
        f"\t\t\t\t<Name>{name} (group {number})</Name>\n"
        "\t\t\t\t<ImageDimensions>\n"
        f"\t\t\t\t\t<Width>{width}</Width>\n"
        f"\t\t\t\t\t<Height>{height}</Height>\n"
        "\t\t\t\t</ImageDimensions>\n"
        "\t\t\t\t<CameraModelType>Perspective</CameraModelType>\n"
        "\t\t\t\t<CameraModelBand>Visible</CameraModelBand>\n"
        f"\t\t\t\t<FocalLength>{focal + rng.uniform(-0.05, 0.05):.12f}</FocalLength>\n"
        f"\t\t\t\t<SensorSize>{sensor}</SensorSize>\n"
        "\t\t\t\t<CameraOrientation>XRightYDown</CameraOrientation>\n"
        "\t\t\t\t<PrincipalPoint>\n"
        f"\t\t\t\t\t<x>{width / 2 + rng.uniform(-20, 20):.12f}</x>\n"
        f"\t\t\t\t\t<y>{height / 2 + rng.uniform(-20, 20):.12f}</y>\n"
        "\t\t\t\t</PrincipalPoint>\n"
        "\t\t\t\t<Distortion>\n"
        f"\t\t\t\t\t<K1>{rng.uniform(-0.1, 0.1):.15f}</K1>\n"
        f"\t\t\t\t\t<K2>{rng.uniform(-0.05, 0.05):.15f}</K2>\n"
        f"\t\t\t\t\t<K3>{rng.uniform(-0.01, 0.01):.15f}</K3>\n"
        f"\t\t\t\t\t<P1>{rng.uniform(-0.001, 0.001):.15f}</P1>\n"
        f"\t\t\t\t\t<P2>{rng.uniform(-0.001, 0.001):.15f}</P2>\n"
        "\t\t\t\t</Distortion>\n"
        "\t\t\t\t<AspectRatio>1</AspectRatio>\n"
        "\t\t\t\t<Skew>0</Skew>\n"
    )


def photo(out, photo_id, index, camera, rng):
    _, width, height, focal, _, folder, pattern = camera
    separator = "\\" if "\\" in folder else "/"
    path = folder + separator + pattern.format(index + 1)
    rows = rotation_rows(rng)
    x = EAST + rng.uniform(0, EXTENT)
    y = NORTH + rng.uniform(0, EXTENT)
    z = GROUND + rng.uniform(280, 320)
    rot = "".join(
        f"\t\t\t\t\t\t\t<M_{r}{c}>{rows[r][c]:.17g}</M_{r}{c}>\n" for r in range(3) for c in range(3)
    )
    minute, second = divmod(index * 2, 60)
    out.append(
        "\t\t\t\t<Photo>\n"
        f"\t\t\t\t\t<Id>{photo_id}</Id>\n"
        f"\t\t\t\t\t<ImagePath>{path}</ImagePath>\n"
        "\t\t\t\t\t<Component>1</Component>\n"
        "\t\t\t\t\t<Pose>\n"
        "\t\t\t\t\t\t<Rotation>\n"
        f"{rot}"
        "\t\t\t\t\t\t\t<Accurate>true</Accurate>\n"
        "\t\t\t\t\t\t</Rotation>\n"
        "\t\t\t\t\t\t<Center>\n"
        f"\t\t\t\t\t\t\t<x>{x:.17g}</x>\n"
        f"\t\t\t\t\t\t\t<y>{y:.17g}</y>\n"
        f"\t\t\t\t\t\t\t<z>{z:.17g}</z>\n"
        "\t\t\t\t\t\t\t<Accurate>true</Accurate>\n"
        "\t\t\t\t\t\t</Center>\n"
        "\t\t\t\t\t\t<Metadata>\n"
        "\t\t\t\t\t\t\t<SRSId>1</SRSId>\n"
        "\t\t\t\t\t\t\t<Center>\n"
        f"\t\t\t\t\t\t\t\t<x>{x + rng.uniform(-2, 2):.9f}</x>\n"
        f"\t\t\t\t\t\t\t\t<y>{y + rng.uniform(-2, 2):.9f}</y>\n"
        f"\t\t\t\t\t\t\t\t<z>{z + rng.uniform(-5, 5):.6f}</z>\n"
        "\t\t\t\t\t\t\t</Center>\n"
        "\t\t\t\t\t\t</Metadata>\n"
        "\t\t\t\t\t</Pose>\n"
        f"\t\t\t\t\t<NearDepth>{z - GROUND - rng.uniform(20, 40):.12f}</NearDepth>\n"
        f"\t\t\t\t\t<MedianDepth>{z - GROUND + rng.uniform(-5, 5):.12f}</MedianDepth>\n"
        f"\t\t\t\t\t<FarDepth>{z - GROUND + rng.uniform(20, 60):.12f}</FarDepth>\n"
        "\t\t\t\t\t<ExifData>\n"
        f"\t\t\t\t\t\t<FocalLength>{focal}</FocalLength>\n"
        f"\t\t\t\t\t\t<FocalLength35mmEq>{focal * 36 / 23.5:.0f}</FocalLength35mmEq>\n"
        "\t\t\t\t\t\t<Make>Survey Optics</Make>\n"
        "\t\t\t\t\t\t<Model>SX-61R</Model>\n"
        f"\t\t\t\t\t\t<DateTimeOriginal>2024-03-14T10:{minute % 60:02d}:{second:02d}</DateTimeOriginal>\n"
        f"\t\t\t\t\t\t<ImageDimensions><Width>{width}</Width><Height>{height}</Height></ImageDimensions>\n"
        "\t\t\t\t\t\t<GPS>\n"
        f"\t\t\t\t\t\t\t<Latitude>{48.75 + rng.uniform(0, 0.01):.9f}</Latitude>\n"
        f"\t\t\t\t\t\t\t<Longitude>{9.15 + rng.uniform(0, 0.015):.9f}</Longitude>\n"
        f"\t\t\t\t\t\t\t<Altitude>{z + 47.3:.3f}</Altitude>\n"
        "\t\t\t\t\t\t</GPS>\n"
        "\t\t\t\t\t</ExifData>\n"
        "\t\t\t\t</Photo>\n"
    )


def photogroups(out, args, rng):
    """Writes the Photogroups section; returns the list of (photo id, width, height)."""
    photos = []
    out.append("\t\t<Photogroups>\n")
    groups = max(1, args.photogroups)
    per_group = [args.photos // groups + (1 if g < args.photos % groups else 0) for g in range(groups)]
    next_id = 0
    for g in range(groups):
        camera = CAMERAS[g % len(CAMERAS)]
        photogroup_header(out, g + 1, camera, rng)
        for index in range(per_group[g]):
            photo(out, next_id, index, camera, rng)
            photos.append((next_id, camera[1], camera[2]))
            next_id += 1
        out.append("\t\t\t</Photogroup>\n")
    out.append("\t\t</Photogroups>\n")
    return photos


def measurement(rng, photos, digits, attributes=""):
    """One Measurement on a random photo, its pixel coordinates to `digits` significant digits."""
    photo_id, width, height = photos[rng.randrange(len(photos))]
    return (
        f"\t\t\t\t<Measurement{attributes}>\n"
        f"\t\t\t\t\t<PhotoId>{photo_id}</PhotoId>\n"
        f"\t\t\t\t\t<x>{rng.uniform(0, width):.{digits}g}</x>\n"
        f"\t\t\t\t\t<y>{rng.uniform(0, height):.{digits}g}</y>\n"
        "\t\t\t\t</Measurement>\n"
    )


def control_points(out, args, rng, photos):
    out.append("\t\t<ControlPoints>\n")
    for number in range(1, args.points + 1):
        check = number % 10 == 0
        category = ("Full", "Full", "Full", "Horizontal", "Vertical")[number % 5]
        out.append(
            "\t\t\t<ControlPoint>\n"
            f"\t\t\t\t<Name>GCP_{number:03d}</Name>\n"
            f"\t\t\t\t<Category>{category}</Category>\n"
            "\t\t\t\t<HorizontalAccuracy>0.01</HorizontalAccuracy>\n"
            "\t\t\t\t<VerticalAccuracy>0.02</VerticalAccuracy>\n"
            "\t\t\t\t<Position>\n"
            f"\t\t\t\t\t<x>{EAST + rng.uniform(0, EXTENT):.4f}</x>\n"
            f"\t\t\t\t\t<y>{NORTH + rng.uniform(0, EXTENT):.4f}</y>\n"
            f"\t\t\t\t\t<z>{GROUND + rng.uniform(-10, 40):.3f}</z>\n"
            "\t\t\t\t</Position>\n"
            f"\t\t\t\t<CheckPoint>{'true' if check else 'false'}</CheckPoint>\n"
        )
        out.extend(measurement(rng, photos, 17) for _ in range(args.measurements))
        out.append("\t\t\t</ControlPoint>\n")
    out.append("\t\t</ControlPoints>\n")


def tie_points(out, args, rng, photos):
    out.append("\t\t<TiePoints>\n")
    if args.tie_comments:
        out.append(TIE_OPENING_COMMENT)
    for number in range(args.tie_points):
        # Seen on one photo more or less than the mean, and on two at least.
        seen = max(2, args.tie_measurements + rng.randint(-1, 1))
        # Drawn in the order of the file, so that the switches never change a value.
        x = EAST + rng.uniform(0, EXTENT)
        y = NORTH + rng.uniform(0, EXTENT)
        z = GROUND + rng.uniform(-10, 40)
        red, green, blue = rng.random(), rng.random(), rng.random()
        attributes = ""
        measurement_attributes = ""
        if args.tie_attributes:
            attributes = TIE_POINT_ATTRIBUTES[number % len(TIE_POINT_ATTRIBUTES)].format(n=number)
            measurement_attributes = TIE_MEASUREMENT_ATTRIBUTES[number % len(TIE_MEASUREMENT_ATTRIBUTES)]
        if args.tie_comments and number > 0 and number % 100 == 0:
            out.append(f"\t\t\t<!-- tie points {number} to {number + 99} -->\n")
        out.append(
            f"\t\t\t<TiePoint{attributes}>\n"
            "\t\t\t\t<Position>\n"
            f"\t\t\t\t\t<x>{x:.11g}</x>\n"
            f"\t\t\t\t\t<y>{y:.11g}</y>\n"
            f"\t\t\t\t\t<z>{z:.8g}</z>\n"
            "\t\t\t\t</Position>\n"
        )
        if args.tie_comments and number == 1:
            out.append(TIE_INSTRUCTION)
        if args.tie_comments and number == 2:
            out.append(TIE_CDATA)
        out.append(
            "\t\t\t\t<Color>\n"
            f"\t\t\t\t\t<Red>{red:.3f}</Red>\n"
            f"\t\t\t\t\t<Green>{green:.3f}</Green>\n"
            f"\t\t\t\t\t<Blue>{blue:.3f}</Blue>\n"
            "\t\t\t\t</Color>\n"
        )
        # Tie points are many and kept in single precision, as the exports do.
        out.append(measurement(rng, photos, 9, measurement_attributes))
        out.extend(measurement(rng, photos, 9) for _ in range(seen - 1))
        out.append("\t\t\t</TiePoint>\n")
        if len(out) > 20000:
            yield
    if args.tie_comments:
        out.append("\t\t\t<!-- end of the tie points -->\n")
    out.append("\t\t</TiePoints>\n")


def generate(path, **options):
    """Writes the block to `path`; returns its size in bytes. `options` are DEFAULTS keys."""
    unknown = set(options) - set(DEFAULTS)
    if unknown:
        raise TypeError(f"unknown options: {sorted(unknown)}")
    args = argparse.Namespace(**{**DEFAULTS, **options})
    if args.photos < 1:
        raise ValueError("a block needs at least one photo")
    rng = random.Random(args.seed)
    # The text is ASCII: a character is one byte in UTF-8 and two in UTF-16.
    encoding, declared, width = ("utf-16-le", "UTF-16", 2) if args.utf16 else ("utf-8", "utf-8", 1)
    characters = 0
    with open(path, "w", encoding=encoding, newline="\n") as f:
        if args.utf16:
            characters += f.write("\ufeff")  # the byte-order mark, FF FE
        out = [
            f'<?xml version="1.0" encoding="{declared}"?>\n'
            '<BlocksExchange version="2.1">\n'
            "\t<SpatialReferenceSystems>\n"
            "\t\t<SRS>\n"
            "\t\t\t<Id>0</Id>\n"
            "\t\t\t<Name>WGS 84 / UTM zone 32N (EPSG:32632)</Name>\n"
            "\t\t\t<Definition>EPSG:32632</Definition>\n"
            "\t\t</SRS>\n"
            "\t\t<SRS>\n"
            "\t\t\t<Id>1</Id>\n"
            "\t\t\t<Name>WGS 84 (EPSG:4326)</Name>\n"
            "\t\t\t<Definition>EPSG:4326</Definition>\n"
            "\t\t</SRS>\n"
            "\t</SpatialReferenceSystems>\n"
            "\t<Block>\n"
            "\t\t<Name>Benchmark block</Name>\n"
            f"\t\t<Description>Generated by make_block.py, seed {args.seed}</Description>\n"
            "\t\t<SRSId>0</SRSId>\n"
        ]
        photos = photogroups(out, args, rng)
        control_points(out, args, rng, photos)
        for _ in tie_points(out, args, rng, photos):
            characters += f.write("".join(out))
            out.clear()
        out.append("\t</Block>\n</BlocksExchange>\n")
        characters += f.write("".join(out))
    return characters * width


def add_arguments(parser):
    """The generator's size arguments and switches, shared with the runner."""
    d = DEFAULTS
    parser.add_argument("--photos", type=int, default=d["photos"], help="photos (default %(default)s)")
    parser.add_argument("--photogroups", type=int, default=d["photogroups"], help="photogroups (default %(default)s)")
    parser.add_argument("--points", type=int, default=d["points"], help="control points (default %(default)s)")
    parser.add_argument(
        "--measurements", type=int, default=d["measurements"], help="measurements per control point (default %(default)s)"
    )
    parser.add_argument("--tie-points", type=int, default=d["tie_points"], help="tie points (default %(default)s)")
    parser.add_argument(
        "--tie-measurements",
        type=int,
        default=d["tie_measurements"],
        help="mean measurements per tie point, at least 2 (default %(default)s)",
    )
    parser.add_argument("--seed", type=int, default=d["seed"], help="random seed (default %(default)s)")
    parser.add_argument(
        "--tie-attributes",
        action="store_true",
        help="attributes on every TiePoint and on a measurement of each, their values holding quoted > and /",
    )
    parser.add_argument(
        "--tie-comments",
        action="store_true",
        help="comments in the TiePoints section (one near its start, one every 100 tie points), "
        "a processing instruction and a CDATA section",
    )
    parser.add_argument(
        "--utf16", action="store_true", help='UTF-16 little-endian with a byte-order mark and encoding="UTF-16"'
    )


def options_from(args):
    return {key: getattr(args, key) for key in DEFAULTS}


def command_line(options):
    """The make_block.py arguments that give `options` (DEFAULTS keys), for running it in a child."""
    arguments = []
    for key, value in options.items():
        if key not in DEFAULTS:
            raise TypeError(f"unknown option: {key}")
        if key in SWITCHES:
            if value:
                arguments.append("--" + key.replace("_", "-"))
        else:
            arguments += ["--" + key.replace("_", "-"), str(value)]
    return arguments


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the block file to write")
    add_arguments(parser)
    args = parser.parse_args()
    try:
        size = generate(args.output, **options_from(args))
    except (OSError, ValueError) as e:
        sys.exit(f"make_block.py: {e}")
    print(f"{args.output}: {size} bytes ({size / 1e6:.1f} MB)")


if __name__ == "__main__":
    main()
