! Editing corners: F without a digit on either side of the point, the
! minus sign of negative values that round to zero, Gw.0, and positioning
! repeated by groups on input and output.
program fmt_edit_corners
  implicit none
  character(len=10) :: line = 'ab12345678'
  character(len=6) :: c
  character(len=3) :: l(3)
  integer :: k, ios
  write (*, '(a, f0.0, a, f0.0, a, f2.0, a, f1.0, a, f2.0, a)') '[', 0.4, '|', 0.0, '|', 0.06, '|', 0.0, '|', -0.4, ']'
  write (*, '(f5.1, f4.0, rc, f5.0, rn, f0.0, f3.1, f6.2)') -0.01, -0.4, -0.4, -0.4, -0.01, -0.004
  write (*, '(1pg9.0e2, g9.0, g9.0, g10.0e3, g9.0)') 0.6, 123.0, 0.0, 5.0, -0.6
  write (*, '(i4, 5(tl1, 2x), i2)') 1234, 56
  write (*, '(a, 3(t5, 1x), i1)') 'abc', 9
  write (*, '(2(3(1x), tl1), i2)') 7
  read (line, '(20x, tl15, a5, i3)') c, k
  write (*, '(3a, i0)') '[', c, ']', k
  read (line, '(5(tl1, 2x), a2, i2)') c, k
  write (*, '(3a, i0)') '[', c, ']', k
  read (line, '(999(999(1x)), tl16, a2, i5)') c, k
  write (*, '(3a, i0)') '[', c, ']', k
  write (l, '(a, /, a, /, a)', iostat=ios) 'a', 'b', 'c'
  write (*, '(l2, 3a4)') ios /= 0, l
  write (l, '(3/)', iostat=ios)
  write (*, '(l2)') ios /= 0
  write (*, '(' // repeat('(', 19) // 'i2, 1x' // repeat(')', 19) // ')') 1, 2
end program fmt_edit_corners
