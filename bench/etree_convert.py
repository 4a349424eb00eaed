#!/usr/bin/env python3
"""A plain ElementTree converter from a block file to a GCI file.

    bench/etree_convert.py path/to/block.xml     # writes path/to/block.gci

It writes the same bytes as block2gci for ordinary blocks, such as the ones
make_block.py generates, and is written the way one would write it in a
hurry: parse the whole document, walk it, print. It is the benchmark's
reference for the output and its baseline for the speed; it does not follow
block2gci into every corner (text after a child element, values that only
Qt reads as numbers, the locale's encoding of odd names).
"""

import os
import sys
import xml.etree.ElementTree as ET


def text_of(element):
    if element is None or element.text is None:
        return ""
    return element.text


def child_text(element, name):
    return text_of(element.find(name))


def integer(text):
    try:
        value = int(text.strip(), 10)
    except ValueError:
        return 0
    return value if -(2**31) <= value < 2**31 else 0


def real(text):
    try:
        return float(text.strip())
    except ValueError:
        return 0.0


def base_name(path):
    name = path[max(path.rfind("/"), path.rfind("\\")) + 1 :]
    dot = name.rfind(".")
    return name if dot < 0 else name[:dot]


def read_photogroups(photogroups, photos):
    group_name, width, height = "", 0, 0
    for group in photogroups:
        for child in group:
            if child.tag == "Name":
                group_name = text_of(child)
            elif child.tag == "ImageDimensions":
                width = integer(child_text(child, "Width"))
                height = integer(child_text(child, "Height"))
            elif child.tag == "Photo":
                photo_id = integer(child_text(child, "Id"))
                photos.setdefault(photo_id, (child_text(child, "ImagePath"), width, height))


def read_control_points(control_points, points):
    for element in control_points:
        point = {"name": "", "x": 0.0, "y": 0.0, "z": 0.0, "category": 1, "measurements": []}
        for child in element:
            if child.tag == "Name":
                point["name"] = text_of(child)
            elif child.tag == "Position":
                point["x"] = real(child_text(child, "x"))
                point["y"] = real(child_text(child, "y"))
                point["z"] = real(child_text(child, "z"))
            elif child.tag == "CheckPoint":
                point["category"] = 2 if text_of(child) == "true" else 1
            elif child.tag == "Measurement":
                point["measurements"].append(
                    (integer(child_text(child, "PhotoId")), real(child_text(child, "x")), real(child_text(child, "y")))
                )
        points.append(point)


def one_line(text):
    return text.replace("\r", " ").replace("\n", " ")


def convert(input_path):
    root = ET.parse(input_path).getroot()
    photos = {}
    points = []
    block = root.find("Block")
    if block is not None:
        for child in block:
            if child.tag == "Photogroups":
                read_photogroups(child, photos)
            elif child.tag == "ControlPoints":
                read_control_points(child, points)
    if not points:
        return None

    lines = ["%d\r\n" % len(points)]
    for point in points:
        category = point["category"]
        lines.append(
            "%s %20.8f %12.8f %12.3f %d\r\n" % (one_line(point["name"]), point["x"], point["y"], point["z"], category)
        )
        lines.append("%d\r\n" % len(point["measurements"]))
        for photo_id, x, y in point["measurements"]:
            image_path, width, height = photos.get(photo_id, ("", 0, 0))
            lines.append(
                "%s %20.8f %20.8f %d\r\n"
                % (one_line(base_name(image_path)), (x - width * 0.5) + 0.5, ((height * 0.5) - y) - 0.5, category)
            )

    directory, file_name = os.path.split(input_path)
    stem = file_name.rsplit(".", 1)[0] if "." in file_name else file_name
    output_path = os.path.join(directory or ".", stem + ".gci")
    with open(output_path, "w", newline="") as out:
        out.writelines(lines)
    return output_path


def main():
    if len(sys.argv) != 2:
        sys.exit("Usage: etree_convert.py BLOCK.xml")
    try:
        output_path = convert(sys.argv[1])
    except (OSError, ET.ParseError) as e:
        sys.exit(f"etree_convert.py: {e}")
    if output_path:
        print(f"Generate file: {output_path}", file=sys.stderr)


if __name__ == "__main__":
    main()
