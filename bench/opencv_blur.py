#!/usr/bin/python3
"""OpenCV's side of the whole-command comparison: read a picture, blur it
with GaussianBlur (sigma from the command line, kernel 6 sigma + 1), write
it.  opencv_blur.py IN OUT SIGMA"""
import sys

import cv2

src, dst, sigma = sys.argv[1], sys.argv[2], int(sys.argv[3])
picture = cv2.imread(src)
if picture is None:
    sys.exit("cannot read " + src)
k = 6 * sigma + 1
if not cv2.imwrite(dst, cv2.GaussianBlur(picture, (k, k), sigma)):
    sys.exit("cannot write " + dst)
