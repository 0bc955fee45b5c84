! G editing across the magnitudes where it switches between F and E form,
! for integers, logicals and characters too.
program fmt_g_modes
  implicit none
  real(8) :: v(6) = [0.01d0, 0.5d0, 9.9996d0, 123.456d0, 99999.9d0, 1.0d7]
  integer :: i
  do i = 1, 6
    write (*, '(g13.5, "|")') v(i)
  end do
  write (*, '(g8.3, g5.0, g6.2)') 42, .true., 'abc'
  write (*, '(g0, 1x, g0, 1x, g0)') 17, .false., 'xyz'
  write (*, '(g12.3e4)') 1.0d-10
end program fmt_g_modes
