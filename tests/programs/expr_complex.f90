! COMPLEX arithmetic, CMPLX, AIMAG, CONJG, ABS and comparison.
program expr_complex
  implicit none
  complex :: z, w
  complex(8) :: z8
  z = (1.0, 2.0)
  w = (3.0, -1.0)
  if (z + w /= (4.0, 1.0)) stop 1
  if (z * w /= (5.0, 5.0)) stop 2
  if (aimag(conjg(z)) /= -2.0) stop 3
  if (abs((3.0, 4.0)) /= 5.0) stop 4
  z8 = cmplx(1.5d0, 2.5d0, 8)
  if (real(z8) /= 1.5d0 .or. aimag(z8) /= 2.5d0) stop 5
  if (z**2 /= (-3.0, 4.0)) stop 6
  z = 2
  if (z /= (2.0, 0.0)) stop 7
  if ((4.0, 2.0) / (0.0, 2.0) /= (1.0, -2.0)) stop 8
  stop 0
end program expr_complex
